-- Large files through Qelv.Encrypt and Qelv.Decrypt: arg[1] is the work
-- folder, arg[2] the name of a file in it.  The file is encrypted to
-- NAME.dat and decrypted to NAME.back, and NAME.ip (a copy) is encrypted and
-- decrypted in place; tools/test-large.sh compares the bytes afterwards.
-- With arg[2] = "refusals", claim.dat (a 123-byte file whose header claims
-- 2^62 bytes) and text.txt (2,600 bytes of text) are decrypted instead, and
-- must come back quickly with an error text.

local _, _, here = string.find(arg[0], "^(.*[/\\])")
here = here or ""
local t = dofile(here .. "harness.lua")
local dir = assert(arg[1], "usage: large_files.lua WORK-FOLDER NAME") .. "/"
local name = assert(arg[2], "usage: large_files.lua WORK-FOLDER NAME")
local key = "a key for large files"

-- Runs one call and prints how long it took, in whole seconds.
local function timed(what, fn, file, output, key)
  local start = os.time()
  local result = fn(file, output, key)
  print(string.format("%-40s %s in %d s", what, result, os.time() - start))
  return result
end

if name == "refusals" then
  for _, each in ipairs({ "claim.dat", "text.txt" }) do
    -- Lua 5.0's closures share the loop's variable, nil once the loop ends;
    -- a local of the body is one per pass.
    local file = each
    t.case(file .. " is refused quickly", function()
      local start = os.time()
      t.equal(timed("Decrypt " .. file, Qelv.Decrypt, dir .. file, dir .. file .. ".back", key),
              "CRC Failure, data may be corrupt")
      t.equal(timed("Decrypt " .. file .. " in place", Qelv.Decrypt, dir .. file, dir .. file, key),
              "CRC Failure, data may be corrupt")
      t.truthy(os.time() - start <= 5, "both calls within 5 s")
    end)
  end
else
  local path = dir .. name
  t.case(name .. " to other files", function()
    t.equal(timed("Encrypt " .. name, Qelv.Encrypt, path, path .. ".dat", key), "OK")
    t.equal(timed("Decrypt " .. name .. ".dat", Qelv.Decrypt, path .. ".dat", path .. ".back", key), "OK")
  end)
  t.case(name .. " in place", function()
    t.equal(timed("Encrypt " .. name .. ".ip in place", Qelv.Encrypt, path .. ".ip", path .. ".ip", key), "OK")
    t.equal(timed("Decrypt " .. name .. ".ip in place", Qelv.Decrypt, path .. ".ip", path .. ".ip", key), "OK")
  end)
end

t.run()
