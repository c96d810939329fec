-- The module of the Windows zip on files of qelv.exe from the same zip:
-- arg[1] is a folder holding plain.bin, plain.bin.dat (qelv.exe's
-- encryption of it) and key.txt.  Decrypts plain.bin.dat to decrypted.bin
-- and encrypts plain.bin to from-module.dat, for the caller to compare and
-- to decrypt with the native qelv.  Any result but "OK" is an error.
local work = assert(arg[1], "usage: package_round_trip.lua FOLDER") .. "\\"
local file = assert(io.open(work .. "key.txt", "rb"))
local key = file:read("*l")
file:close()
local decrypted = Qelv.Decrypt(work .. "plain.bin.dat", work .. "decrypted.bin", key)
print("Qelv.Decrypt: " .. decrypted)
local encrypted = Qelv.Encrypt(work .. "plain.bin", work .. "from-module.dat", key)
print("Qelv.Encrypt: " .. encrypted)
assert(decrypted == "OK" and encrypted == "OK", "the module refused a file")
