-- Files move between the command-line tool and the module: arg[1] holds
-- plain.txt and from-cli.dat, which `qelv encrypt` made from it, and
-- from-cli-accented.dat, made with the key "clé secrète" typed in UTF-8, and
-- from-cli-1250.dat, made with "cłé" spelt in code page 1250.
-- This script decrypts them with Qelv.Decrypt and encrypts plain.txt again
-- with Qelv.Encrypt into from-host.dat and from-host-accented.dat, for
-- `qelv decrypt` to read.  A script holds its key in Windows-1252, so the
-- accented key is written here byte by byte.

local _, _, here = string.find(arg[0], "^(.*[/\\])")
here = here or ""
local t = dofile(here .. "harness.lua")
local dir = assert(arg[1], "usage: cli_exchange.lua WORK-FOLDER") .. "/"

t.case("a file from qelv encrypt decrypts with Qelv.Decrypt", function()
  t.equal(Qelv.Decrypt(dir .. "from-cli.dat", dir .. "from-cli.txt", "pumpkinjar"), "OK")
  t.equal(t.read(dir .. "from-cli.txt"), t.read(dir .. "plain.txt"))
end)

t.case("Qelv.Encrypt writes a file for qelv decrypt", function()
  t.equal(Qelv.Encrypt(dir .. "plain.txt", dir .. "from-host.dat", "pumpkinjar"), "OK")
end)

local accented = "cl\233 secr\232te"

t.case("a key with accented letters typed into qelv opens the file in a script", function()
  t.equal(Qelv.Decrypt(dir .. "from-cli-accented.dat", dir .. "from-cli-accented.txt", accented), "OK")
  t.equal(t.read(dir .. "from-cli-accented.txt"), t.read(dir .. "plain.txt"))
  -- The key's UTF-8 bytes are another key.
  t.equal(Qelv.Decrypt(dir .. "from-cli-accented.dat", dir .. "utf8.txt", "cl\195\169 secr\195\168te"),
          "CRC Failure, data may be corrupt")
end)

t.case("a key in code page 1250 typed into qelv opens the file in a 1250 script", function()
  t.equal(Qelv.Decrypt(dir .. "from-cli-1250.dat", dir .. "from-cli-1250.txt", "c\179\233"), "OK")
  t.equal(t.read(dir .. "from-cli-1250.txt"), t.read(dir .. "plain.txt"))
end)

t.case("Qelv.Encrypt with the accented key writes a file for qelv decrypt", function()
  t.equal(Qelv.Encrypt(dir .. "plain.txt", dir .. "from-host-accented.dat", accented), "OK")
end)

t.run()
