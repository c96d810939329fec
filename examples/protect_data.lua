-- A project script as an author would write it: protect a data file for
-- shipping, then read it back the way the shipped application would.
--   qelv_host examples/protect_data.lua DATA-FILE WORK-FOLDER

local source = assert(arg[1], "usage: protect_data.lua DATA-FILE WORK-FOLDER")
local folder = assert(arg[2], "usage: protect_data.lua DATA-FILE WORK-FOLDER")
local sealed = folder .. "/license.dat"
local restored = folder .. "/license.txt"
local key = "pumpkinjar"

local function size_of(path)
  local f = io.open(path, "rb")
  if not f then return "missing" end
  local n = f:seek("end")
  f:close()
  return n .. " bytes"
end

print("Qelv.Encrypt(" .. source .. ") -> " .. Qelv.Encrypt(source, sealed, key))
print("  " .. sealed .. ": " .. size_of(sealed))

print("Qelv.Decrypt(" .. sealed .. ") -> " .. Qelv.Decrypt(sealed, restored, key))
print("  " .. restored .. ": " .. size_of(restored))

local result = Qelv.Decrypt(sealed, folder .. "/wrong.txt", "not the key")
print("Qelv.Decrypt with a wrong key -> " .. result)
print("  " .. folder .. "/wrong.txt: " .. size_of(folder .. "/wrong.txt"))

local ok, err = pcall(Qelv.Encrypt, source, sealed)
print("Qelv.Encrypt with two arguments raises: " .. tostring(err))

local a = io.open(source, "rb"):read("*a")
local b = io.open(restored, "rb"):read("*a")
print(a == b and "The restored file equals the original." or "MISMATCH: the restored file differs!")
if a ~= b then os.exit(1) end
