-- Many calls on one Lua state: encrypt and decrypt of a small and a medium
-- file in turn, with argument errors, wrong keys and missing files mixed in.
-- Every result is checked; memory in use and open handles are read after
-- the first thousand calls and at the end, and must not grow.
--   soak.lua WORK-FOLDER [CALLS [MEMORY-SLACK-KIB]]
-- Prints one line "soak: ..." with the figures.

local _, _, here = string.find(arg[0], "^(.*[/\\])")
here = here or ""
local t = dofile(here .. "harness.lua")  -- for its file helpers
local read, write = t.read, t.write
local dir = assert(arg[1], "usage: soak.lua WORK-FOLDER [CALLS [MEMORY-SLACK-KIB]]") .. "/"
local calls_wanted = tonumber(arg[2] or "10000")
local slack = tonumber(arg[3] or "512") * 1024

local refused = "Error, no valid key, filename or file doesn't exist!"
local crc_failure = "CRC Failure, data may be corrupt"
local count_error = Debug.GetSyntaxErrorString("3 arguments required.")

local mod = math.mod or math.fmod  -- the 5.0 name, and the later one

-- Bytes 0..255 in a pattern that does not repeat every block.
local function pattern(n, seed)
  local parts, x = {}, seed
  for i = 1, n do
    x = mod(x * 73 + 41, 251)
    parts[i] = string.char(x)
  end
  return table.concat(parts)
end

local files = {
  { plain = pattern(100, 1), key = "small key" },
  { plain = pattern(20 * 1024, 2) .. string.rep("\0", 40 * 1024) .. pattern(40 * 1024 + 5, 3),
    key = "medium key" },
}
for i, f in ipairs(files) do
  f.source = dir .. "soak-plain-" .. i
  f.sealed = dir .. "soak-sealed-" .. i
  f.back = dir .. "soak-back-" .. i
  write(f.source, f.plain)
end

local calls, step = 0, 0
local function expect(actual, expected, what)
  calls = calls + 1
  if actual ~= expected then
    error(string.format("call %d (%s): expected %q, got %q", calls, what, tostring(expected),
                        tostring(actual)), 2)
  end
end

-- pcall of a call that must raise the count error.
local function argument_error(fn, a, b)
  local ok, err = pcall(fn, a, b)
  calls = calls + 1
  if ok or err ~= count_error then
    error(string.format("call %d: expected the count error, got %s", calls, tostring(err)), 2)
  end
end

-- One round: eight or so calls, all checked.
local function round()
  step = step + 1
  local f = files[mod(step, 2) + 1]
  expect(Qelv.Encrypt(f.source, f.sealed, f.key), "OK", "encrypt")
  expect(Qelv.Decrypt(f.sealed, f.back, f.key), "OK", "decrypt")
  if read(f.back) ~= f.plain then error("call " .. calls .. ": decrypted bytes differ") end
  expect(Qelv.Decrypt(f.sealed, f.back, f.key .. "!"), crc_failure, "wrong key")
  expect(Qelv.Decrypt(dir .. "no-such-file", f.back, f.key), refused, "missing file")
  expect(Qelv.Encrypt(f.source, f.sealed, "   "), refused, "blank key")
  argument_error(Qelv.Encrypt, f.source, f.sealed)
  argument_error(Qelv.Decrypt, nil, nil)
  expect(Application.GetLastError(), 0, "last error after a good call")
end

local function settled()
  collectgarbage()
  return Host.Resources()
end

while calls < 1000 do round() end
local memory_early, handles_early = settled()
local calls_early = calls
while calls < calls_wanted do round() end
local memory_late, handles_late = settled()

print(string.format("soak: %d calls; memory in use %d KiB after %d calls, %d KiB after %d; " ..
                    "handles %d and %d", calls, memory_early / 1024, calls_early,
                    memory_late / 1024, calls, handles_early, handles_late))
if handles_late ~= handles_early then error("handles grew: " .. handles_early .. " -> " .. handles_late) end
if memory_early < 0 or memory_late - memory_early > slack then
  error(string.format("memory grew by %d KiB (allowed %d)", (memory_late - memory_early) / 1024,
                      slack / 1024))
end
-- On Windows a file still held open cannot be removed: where the system
-- keeps no handle count, this is the check that none was left.
for _, f in ipairs(files) do
  for _, path in ipairs({ f.source, f.sealed, f.back }) do
    local removed, why = os.remove(path)
    if not removed then error("cannot remove " .. path .. ": " .. tostring(why)) end
  end
end
