-- Garbage collection while the module works.  A few thousand calls of
-- Qelv.Encrypt and Qelv.Decrypt on one state, whose host objects
-- (Application.SetLastError, Debug.GetSyntaxErrorString), which the module
-- calls in the middle of its work, make garbage of every kind (tables,
-- strings, closures, open files) and now and then collect it.  So the
-- collector runs while the module's frames, its Qelv table and closures are
-- live, and it frees old Qelv tables (registered again now and then) and
-- finalizes the host's files.  In the release build, where the module holds
-- its own copy of the Lua library, the host objects run on the module's
-- copy of the interpreter, so collections run by both copies, each over
-- objects that the other made.
-- Every result is checked; a weak table tells how many calls saw a
-- collection; after a full collection the heap must be no larger than after
-- the first hundred rounds, and every file must be removable (no file left
-- open by the module, every leaked file finalized).
--   gc_stress.lua WORK-FOLDER [CALLS]
-- Prints one line "gc stress: ..." with the figures.

local _, _, here = string.find(arg[0], "^(.*[/\\])")
local t = dofile((here or "") .. "harness.lua")
local dir = assert(arg[1], "usage: gc_stress.lua WORK-FOLDER [CALLS]") .. "/"
local calls_wanted = tonumber(arg[2] or "4000")

local crc_failure = "CRC Failure, data may be corrupt"
local source, sealed, back = dir .. "gc-plain", dir .. "gc-sealed", dir .. "gc-back"
local plain = string.rep("collect me, not the module's state. ", 90)
t.write(source, plain)

local host_format = Debug.GetSyntaxErrorString
local host_set_last_error = Application.SetLastError
local count_error = host_format("3 arguments required.")
local mod = math.mod or math.fmod  -- the 5.0 name, and the later one

-- Tables, strings and closures that nothing keeps; every seventh time also
-- a file opened and dropped unclosed, for the collector to finalize.
local littered = 0
local function litter(n)
  littered = littered + 1
  local junk = {}
  for i = 1, n do
    junk[i] = { i, "junk " .. i .. " of " .. littered, function() return i + littered end }
  end
  if mod(littered, 7) == 0 then
    io.open(source, "rb")
  end
end

Application.SetLastError = function(code)
  litter(150)
  host_set_last_error(code)
end
Debug.GetSyntaxErrorString = function(message)
  litter(150)
  if mod(littered, 50) == 0 then collectgarbage() end
  return host_format(message)
end

-- A table held only by a weak table is gone once a collection has run.
local watch = setmetatable({}, { __mode = "k" })
local calls, seen_collecting = 0, 0

-- Runs thunk, which makes one call of the module, under pcall.
local function call(thunk)
  for k in pairs(watch) do watch[k] = nil end
  watch[{}] = true
  calls = calls + 1
  local ok, result = pcall(thunk)
  if next(watch) == nil then seen_collecting = seen_collecting + 1 end
  return ok, result
end

local function expect(wanted, thunk)
  local ok, result = call(thunk)
  if not ok or result ~= wanted then
    error(string.format("call %d: expected %q, got %s %q", calls, wanted,
                        ok and "result" or "error", tostring(result)), 2)
  end
end

local rounds = 0
local function round()
  rounds = rounds + 1
  expect("OK", function() return Qelv.Encrypt(source, sealed, "gc key") end)
  expect("OK", function() return Qelv.Decrypt(sealed, back, "gc key") end)
  if t.read(back) ~= plain then error("call " .. calls .. ": decrypted bytes differ") end
  expect(crc_failure, function() return Qelv.Decrypt(sealed, back, "gc kez") end)
  -- A number key becomes a new string inside the module's call.
  expect("OK", function() return Qelv.Encrypt(source, sealed, rounds + 0.5) end)
  expect("OK", function() return Qelv.Decrypt(sealed, back, tostring(rounds + 0.5)) end)
  local ok, err = call(function() return Qelv.Encrypt(source) end)
  if ok or err ~= count_error then
    error("call " .. calls .. ": expected the count error, got " .. tostring(err))
  end
  -- A fresh Qelv table and closures; the old ones become garbage.
  if mod(rounds, 25) == 0 then t.equal(Host.Register(), 1, "registration") end
end

while rounds < 100 do round() end
collectgarbage()
local heap_early = gcinfo()
while calls < calls_wanted do round() end
collectgarbage()
collectgarbage()  -- a second pass frees what the first one's finalizers released
local heap_late = gcinfo()

print(string.format("gc stress: %d calls, %d of them saw a collection; Lua heap %d KiB after " ..
                    "100 rounds, %d KiB at the end", calls, seen_collecting, heap_early, heap_late))
Application.SetLastError, Debug.GetSyntaxErrorString = host_set_last_error, host_format
t.truthy(seen_collecting * 4 >= calls, "a collection during at least a quarter of the calls")
t.truthy(heap_late <= heap_early + 16, "the heap grew from " .. heap_early .. " to " .. heap_late .. " KiB")
for _, path in ipairs({ source, sealed, back }) do
  local removed, why = os.remove(path)
  t.truthy(removed, "remove " .. path .. ": " .. tostring(why))
end
