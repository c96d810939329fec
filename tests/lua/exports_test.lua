-- The module's exports as the host calls them: the buffer convention, the
-- information texts, the descriptor and the help commands.  arg[1] is a
-- work folder holding a subfolder "folder-page/Qelv.html" (a directory);
-- arg[2], natively, the file where the stand-in xdg-open logs its arguments.

local _, _, here = string.find(arg[0], "^(.*[/\\])")
here = here or ""
local t = dofile(here .. "harness.lua")
local dir = assert(arg[1], "usage: exports_test.lua WORK-FOLDER [SHELL-LOG]") .. "/"
local shell_log = arg[2]

local GUARD = string.rep("\170", 8)

-- The shell targets handed over since the last call, from the loader's
-- record on Windows or the stand-in xdg-open's log elsewhere.
local seen = 0
local function shell_targets()
  local targets = {}
  local calls = Host.ShellCalls()
  if calls then
    for i = seen + 1, table.getn(calls) do
      t.equal(calls[i].verb, "open", "verb")
      t.equal(calls[i].show, 1, "show mode")
      t.equal(calls[i].parameters, nil, "parameters")
      t.equal(calls[i].directory, nil, "directory")
      table.insert(targets, calls[i].file)
    end
    seen = table.getn(calls)
  else
    local log = t.read(shell_log) or ""
    for line in t.gmatch(log, "[^\n]+") do table.insert(targets, line) end
    t.write(shell_log, "")
  end
  return targets
end

t.case("a size of 3 gets -1 and the length; the buffer is untouched", function()
  local result, size, buffer = Host.Info("PluginName", 3)
  t.equal(result, -1)
  t.equal(size, 4)
  t.equal(buffer, string.rep("\170", 3) .. GUARD)
end)

t.case("a size of 100 gets the text and a zero", function()
  local result, size, buffer = Host.Info("PluginName", 100)
  t.equal(result, 4)
  t.equal(size, 100)
  t.equal(string.sub(buffer, 1, 5), "Qelv\0")
  t.equal(string.sub(buffer, 6), string.rep("\170", 95) .. GUARD)
end)

t.case("a negative size counts as too small", function()
  local result, size, buffer = Host.Info("PluginVersion", -5)
  t.equal(result, -1)
  t.equal(size, 7)
  t.equal(buffer, GUARD)
end)

t.case("a size equal to the length gets the text and nothing past it", function()
  for _, name in ipairs({ "PluginName", "PluginVersion", "AuthorInfo", "LuaVersion", "PluginActionXML" }) do
    local _, needed = Host.Info(name, 0)
    local result, size, buffer = Host.Info(name, needed)
    t.equal(result, needed, name)
    t.equal(size, needed, name)
    t.equal(string.sub(buffer, needed + 1), GUARD, name .. " guard")
    t.equal(string.find(string.sub(buffer, 1, needed), "\0", 1, true), nil, name)
  end
end)

t.case("version texts", function()
  local _, _, buffer = Host.Info("PluginVersion", 50)
  t.equal(string.sub(buffer, 1, 8), "1.0.0.1\0")
  local n, _, lua = Host.Info("LuaVersion", 50)
  lua = string.sub(lua, 1, n)
  -- The library's own version text, of which the interpreter's _VERSION is
  -- the beginning ("Lua 5.1" of "Lua 5.1.5"; "Lua 5.0.2" on the real host).
  t.equal(string.sub(lua, 1, string.len(_VERSION)), _VERSION, "Lua version " .. lua)
end)

t.case("author text: three lines joined by CR LF, no line end after the last", function()
  local n, _, buffer = Host.Info("AuthorInfo", 500)
  local text = string.sub(buffer, 1, n)
  local first, second, third = t.match(text, "^([^\r\n]+)\r\n([^\r\n]+)\r\n([^\r\n]+)$")
  t.equal(first, "Qelv Action Plugin")
  t.truthy(second and string.find(second, "Copyright", 1, true), "copyright line")
  t.truthy(third and string.find(third, "%w+%.%w+"), "web address")
end)

t.case("the descriptor: exact length, and one byte short is refused", function()
  local _, length = Host.Info("PluginActionXML", 0)
  local result, size = Host.Info("PluginActionXML", length - 1)
  t.equal(result, -1)
  t.equal(size, length)
  local n, _, buffer = Host.Info("PluginActionXML", length + 100)
  t.equal(n, length)
  local xml = string.sub(buffer, 1, n)
  t.equal(string.byte(buffer, n + 1), 0)
  t.equal(string.sub(xml, 1, 19), "<ActionTemplates>\r\n")
  t.equal(string.sub(xml, -19), "\n</ActionTemplates>")
  local _, lines = string.gsub(xml, "\r\n", "")
  t.equal(lines + 1, 135, "lines")
  t.truthy(string.find(xml, "<Name>Qelv.Encrypt</Name>", 1, true), "Encrypt action")
  t.truthy(string.find(xml, "<Name>Qelv.Decrypt</Name>", 1, true), "Decrypt action")
end)

t.case("help: no page gives 0 from both commands and opens nothing", function()
  t.equal(Host.ShowHelpForPlugin(dir .. "no-page"), 0)
  t.equal(Host.ShowHelpForAction("Qelv.Encrypt", dir .. "no-page"), 0)
  t.equal(table.getn(shell_targets()), 0)
end)

t.case("help: a page opens, with the action's anchor", function()
  t.write(dir .. "Qelv.html", "<html></html>")
  local page = dir .. (Host.ShellCalls() and "\\" or "/") .. "Qelv.html"
  t.equal(Host.ShowHelpForAction("Qelv.Decrypt", dir), 1)
  t.equal(Host.ShowHelpForPlugin(dir), 1)
  local targets = shell_targets()
  t.equal(table.getn(targets), 2)
  t.equal(targets[1], page .. "#Qelv.Decrypt")
  t.equal(targets[2], page)
end)

t.case("help: a folder named Qelv.html counts as the page", function()
  t.equal(Host.ShowHelpForPlugin(dir .. "folder-page"), 1)
  t.equal(table.getn(shell_targets()), 1)
end)

t.case("scripts use Qelv after every information export was called", function()
  for _, name in ipairs({ "PluginName", "PluginVersion", "AuthorInfo", "LuaVersion", "PluginActionXML" }) do
    Host.Info(name, 10000)
  end
  t.write(dir .. "after.txt", "data after the exports")
  t.equal(Qelv.Encrypt(dir .. "after.txt", dir .. "after.dat", "key"), "OK")
  t.equal(Qelv.Decrypt(dir .. "after.dat", dir .. "after.out", "key"), "OK")
  t.equal(t.read(dir .. "after.out"), "data after the exports")
end)

t.run()
