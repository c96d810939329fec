# Sourced by the scripts that run Windows programs: quiet Wine, no .NET or
# HTML engine prompts, and one persistent wineserver for the whole run.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_up() {
  wineserver -p 2>/dev/null || true  # one may be running already
  # The first start brings up Wine's services; they keep whatever output
  # they inherit open, so start them here, detached, and not under ctest.
  wine cmd /c exit </dev/null >/dev/null 2>&1 || true
}
wine_down() { wineserver -k 2>/dev/null || true; }
