-- Qelv.Encrypt and Qelv.Decrypt as a project script sees them, through the
-- module and the host stand-in.  arg[1] is an empty folder to work in.

local _, _, here = string.find(arg[0], "^(.*[/\\])")
here = here or ""
local t = dofile(here .. "harness.lua")
local dir = assert(arg[1], "usage: bindings_test.lua WORK-FOLDER") .. "/"

local refused = "Error, no valid key, filename or file doesn't exist!"
local source = dir .. "source.txt"
local plain = string.rep("The quick brown fox. ", 50)
t.write(source, plain)

local host_format = Debug.GetSyntaxErrorString
local host_set_last_error = Application.SetLastError

-- Every case starts from the host's own objects.
local function reset()
  Application.SetLastError = host_set_last_error
  Debug = { GetSyntaxErrorString = host_format }
end

local function formatted(raw) return host_format(raw) end

t.case("count error names 3 for none, one and two arguments", function()
  reset()
  for _, fn in ipairs({ Qelv.Encrypt, Qelv.Decrypt }) do
    t.equal(t.raises(fn), formatted("3 arguments required."))
    t.equal(t.raises(fn, source), formatted("3 arguments required."))
    t.equal(t.raises(fn, source, dir .. "x"), formatted("3 arguments required."))
    t.equal(t.raises(fn, nil, nil), formatted("3 arguments required."))
  end
end)

t.case("type error names the first bad position only", function()
  reset()
  t.equal(t.raises(Qelv.Encrypt, source, nil, "key"), formatted("Argument 2 must be a string."))
  t.equal(t.raises(Qelv.Encrypt, true, {}, "key"), formatted("Argument 1 must be a string."))
  t.equal(t.raises(Qelv.Decrypt, source, dir .. "x", print), formatted("Argument 3 must be a string."))
  t.equal(t.raises(Qelv.Decrypt, source, dir .. "x", nil, "extra"), formatted("Argument 3 must be a string."))
end)

t.case("numbers reach the engine as their %.14g text", function()
  reset()
  local keys = { [123] = "123", [0.1] = "0.1", [1e15] = "1e+15", [2^53] = "9.007199254741e+15",
                 [-7] = "-7" }
  for number, text in pairs(keys) do
    t.equal(Qelv.Encrypt(source, dir .. "num.enc", number), "OK")
    t.equal(Qelv.Decrypt(dir .. "num.enc", dir .. "num.out", text), "OK", "key " .. text)
    t.equal(t.read(dir .. "num.out"), plain)
  end
end)

t.case("an argument is cut at its first zero byte", function()
  reset()
  t.equal(Qelv.Encrypt(source .. "\0ignored", dir .. "zero.enc\0also", "abc\0def"), "OK")
  t.truthy(t.read(dir .. "zero.enc"), "output under the cut name")
  t.equal(Qelv.Decrypt(dir .. "zero.enc", dir .. "zero.out", "abc"), "OK")
  t.equal(t.read(dir .. "zero.out"), plain)
  t.equal(Qelv.Encrypt(source, dir .. "z2.enc", "\0key"), refused)  -- cut to the empty key
end)

t.case("a fourth and later arguments are ignored", function()
  reset()
  t.equal(Qelv.Encrypt(source, dir .. "four.enc", "key", "extra", {}, nil, 5), "OK")
  t.equal(Qelv.Decrypt(dir .. "four.enc", dir .. "four.out", "key", true), "OK")
  t.equal(t.read(dir .. "four.out"), plain)
end)

t.case("engine failures are results, not script errors", function()
  reset()
  t.equal(Qelv.Encrypt(dir .. "missing", dir .. "m.enc", "key"), refused)
  t.equal(Qelv.Decrypt(dir .. "missing", dir .. "m.out", "key"), refused)
  t.equal(Qelv.Encrypt(source, dir .. "w.enc", "   "), refused)
  t.equal(Qelv.Encrypt(source, dir .. "w.enc", "right"), "OK")
  t.equal(Qelv.Decrypt(dir .. "w.enc", dir .. "w.out", "wrong"), "CRC Failure, data may be corrupt")
  t.equal(Qelv.Encrypt(source, dir, "key"), "Error, could not write the output file!")
  t.equal(t.read(dir .. "w.out"), nil)
end)

t.case("the last-error code is 0 after every call", function()
  reset()
  local calls = {
    function() return Qelv.Encrypt(source, dir .. "e.enc", "key") end,
    function() return Qelv.Decrypt(dir .. "e.enc", dir .. "e.out", "key") end,
    function() return Qelv.Decrypt(dir .. "missing", dir .. "e.out", "key") end,
    function() return Qelv.Encrypt() end,
    function() return Qelv.Decrypt(1, 2, nil) end,
  }
  for i, call in ipairs(calls) do
    Application.SetLastError(99)
    pcall(call)
    t.equal(Application.GetLastError(), 0, "call " .. i)
  end
end)

t.case("SetLastError raising or missing changes nothing", function()
  local saved = Application.SetLastError
  for _, replacement in ipairs({ function() error("host broke") end, false, "text" }) do
    Application.SetLastError = replacement or nil
    t.equal(Qelv.Encrypt(source, dir .. "s.enc", "key"), "OK")
    t.equal(Qelv.Decrypt(dir .. "s.enc", dir .. "s.out", "key"), "OK")
    t.equal(t.raises(Qelv.Encrypt, source), formatted("3 arguments required."))
  end
  Application.SetLastError = saved
end)

t.case("a formatter returning nil raises an empty text", function()
  Debug = { GetSyntaxErrorString = function() return nil end }
  t.equal(t.raises(Qelv.Encrypt, source), "")
  reset()
end)

t.case("formatted texts of 1023 and 1024 characters", function()
  Debug = { GetSyntaxErrorString = function() return string.rep("y", 1023) end }
  t.equal(t.raises(Qelv.Encrypt), string.rep("y", 1023))
  Debug = { GetSyntaxErrorString = function() return string.rep("y", 1024) end }
  t.equal(t.raises(Qelv.Encrypt), "Formatted error string is too long for buffer.")
  reset()
end)

t.case("a failing or missing formatter raises the last text again", function()
  reset()
  t.raises(Qelv.Encrypt)  -- leaves the count error's text behind
  Debug = { GetSyntaxErrorString = function() error("formatter broke") end }
  t.equal(t.raises(Qelv.Encrypt, 1, nil, 3), formatted("3 arguments required."))
  Debug = {}
  t.equal(t.raises(Qelv.Decrypt, nil, nil, nil), formatted("3 arguments required."))
  reset()
end)

t.case("a missing Debug gives the interpreter's indexing error", function()
  Debug = nil
  local err = t.raises(Qelv.Encrypt, source)
  t.truthy(string.find(err, "attempt to index", 1, true), "indexing error, got " .. tostring(err))
  local saved = Application
  Application = nil
  err = t.raises(Qelv.Encrypt, source, dir .. "a.enc", "key")
  t.truthy(string.find(err, "attempt to index", 1, true), "indexing error, got " .. tostring(err))
  t.equal(t.read(dir .. "a.enc"), nil)
  Application = saved
  reset()
end)

t.case("a call that fails its checks creates or changes no file", function()
  reset()
  local existing = dir .. "existing.out"
  t.write(existing, "keep me")
  t.raises(Qelv.Encrypt, source, dir .. "new.out")
  t.raises(Qelv.Encrypt, source, dir .. "new.out", nil)
  t.raises(Qelv.Decrypt, source, existing, {})
  t.raises(Qelv.Encrypt, source, existing, false)
  t.equal(t.read(dir .. "new.out"), nil)
  t.equal(t.read(existing), "keep me")
  t.equal(t.read(source), plain)
end)

t.case("Qelv holds exactly Encrypt and Decrypt, also after a second registration", function()
  local function fields()
    local n = 0
    for k, v in pairs(Qelv) do
      n = n + 1
      t.truthy(k == "Encrypt" or k == "Decrypt", "unexpected field " .. tostring(k))
      t.equal(type(v), "function")
    end
    return n
  end
  t.equal(fields(), 2)
  local before = Qelv
  t.equal(Host.Register(), 1)
  t.truthy(before ~= Qelv, "a fresh table")
  t.equal(fields(), 2)
  t.equal(Qelv.OnExit, nil)
  local err = t.raises(function() Qelv.OnExit() end)
  t.truthy(string.find(err, "attempt to call", 1, true), "call error, got " .. err)
end)

t.run()
