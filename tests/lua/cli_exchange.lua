-- Files move between the command-line tool and the module: arg[1] holds
-- plain.txt and from-cli.dat, which `qelv encrypt` made from it.  This script
-- decrypts that file with Qelv.Decrypt and encrypts plain.txt again with
-- Qelv.Encrypt into from-host.dat, for `qelv decrypt` to read.

local here = string.match(arg[0], "^(.*[/\\])") or ""
local t = dofile(here .. "harness.lua")
local dir = assert(arg[1], "usage: cli_exchange.lua WORK-FOLDER") .. "/"

t.case("a file from qelv encrypt decrypts with Qelv.Decrypt", function()
  t.equal(Qelv.Decrypt(dir .. "from-cli.dat", dir .. "from-cli.txt", "pumpkinjar"), "OK")
  t.equal(t.read(dir .. "from-cli.txt"), t.read(dir .. "plain.txt"))
end)

t.case("Qelv.Encrypt writes a file for qelv decrypt", function()
  t.equal(Qelv.Encrypt(dir .. "plain.txt", dir .. "from-host.dat", "pumpkinjar"), "OK")
end)

t.run()
