-- The Windows build's smoke run, for machines where every Wine process
-- start takes about a minute (Wine under an emulator): the bindings, exports
-- and exchange scripts in turn, in one host process and one Lua state.
-- arg[1] is a work folder holding bindings/ (empty), exports/ (with a
-- folder named folder-page/Qelv.html) and exchange/ (plain.txt, and
-- from-cli.dat made from it by the native qelv).  The last line is
-- "smoke: N passed, N failed"; any failure, or no case run at all, ends
-- the script in an error.

local _, _, here = string.find(arg[0], "^(.*[/\\])")
here = here or ""
local work = assert(arg[1], "usage: wine_smoke.lua WORK-FOLDER") .. "/"

harness_totals = { passed = 0, failed = 0 }
local broken = 0  -- scripts that stopped before their summary

local function run(script, folder)
  print("-- " .. script)
  arg = { [0] = here .. script, work .. folder }
  local failed_before = harness_totals.failed
  local ok, err = pcall(dofile, here .. script)
  -- A script whose cases failed raises after counting them; any other
  -- error means it stopped early.
  if not ok and harness_totals.failed == failed_before then
    print("STOPPED " .. script .. ": " .. tostring(err))
    broken = broken + 1
  end
end

run("bindings_test.lua", "bindings")
run("exports_test.lua", "exports")
run("cli_exchange.lua", "exchange")

local failed = harness_totals.failed + broken
print(string.format("smoke: %d passed, %d failed", harness_totals.passed, failed))
if failed > 0 or harness_totals.passed == 0 then error("the smoke failed", 0) end
