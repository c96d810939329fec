-- A small test harness for scripts run through qelv_host.  Each case is a
-- function; a failed check raises.  The summary line is the last output:
-- "N passed, N failed".  Any failure makes the script end in an error, so the
-- host exits 1.
--
-- The scripts run on the host's Lua 5.0 (the release build) and on the 5.1
-- stand-in, so they use only what both offer: no # or % operator, no
-- string.match or select; the helpers below where the two differ.

local harness = { cases = {} }

local lua_50 = string.find(_VERSION, "^Lua 5%.0") ~= nil

-- string.match: the captures of the first match (or the whole match when
-- the pattern has none), nil when none.
function harness.match(s, pattern)
  local found = { string.find(s, pattern) }
  if found[1] == nil then return nil end
  if found[3] == nil then return string.sub(s, found[1], found[2]) end
  table.remove(found, 1)
  table.remove(found, 1)
  return unpack(found)
end

-- string.gmatch, called string.gfind in 5.0.
harness.gmatch = string.gmatch or string.gfind

function harness.case(name, fn)
  table.insert(harness.cases, { name = name, fn = fn })
end

function harness.equal(actual, expected, what)
  if actual ~= expected then
    error(string.format("%s: expected %q, got %q", what or "value",
                        tostring(expected), tostring(actual)), 2)
  end
end

function harness.truthy(value, what)
  if not value then error((what or "check") .. " failed", 2) end
end

-- The error text of calling fn(...), which must raise; every argument is
-- passed, trailing nils too.  5.0 spells a function's extra arguments as the
-- table arg, 5.1 as ..., so the function is compiled from the spelling of
-- the Lua running.
harness.raises = assert(loadstring([[
  return function(fn, ...)
    local ok, err = pcall(fn, ]] .. (lua_50 and "unpack(arg)" or "...") .. [[)
    if ok then error("expected an error", 2) end
    return err
  end]]))()

function harness.read(path)
  local f = io.open(path, "rb")
  if not f then return nil end
  local data = f:read("*a")
  f:close()
  return data
end

function harness.write(path, data)
  local f = assert(io.open(path, "wb"))
  f:write(data)
  f:close()
end

function harness.run()
  local passed, failed = 0, 0
  for _, c in ipairs(harness.cases) do
    local ok, err = pcall(c.fn)
    if ok then
      passed = passed + 1
    else
      failed = failed + 1
      print("FAILED " .. c.name .. ": " .. tostring(err))
    end
  end
  print(string.format("%d passed, %d failed", passed, failed))
  -- A driver that runs several scripts in one state adds them up here.
  if harness_totals then
    harness_totals.passed = harness_totals.passed + passed
    harness_totals.failed = harness_totals.failed + failed
  end
  if failed > 0 then error(failed .. " case(s) failed", 0) end
end

return harness
