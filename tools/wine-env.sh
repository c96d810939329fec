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

# True when this machine can run 32-bit x86 programs, which 32-bit Wine is.
# Some virtual machines run only 64-bit programs: there the Windows build is
# still compiled, but nothing of it can be run.
wine_can_run() {
  /usr/lib/wine/wine --version >/dev/null 2>&1
}
wine_cannot_run_notice() {
  echo "!! Windows programs NOT RUN: this machine cannot execute 32-bit x86 programs"
  echo "!! (/usr/lib/wine/wine: $(/usr/lib/wine/wine --version 2>&1 | head -1 | sed 's/^.*: //'))."
  echo "!! The Windows build was compiled but is untested here."
}
