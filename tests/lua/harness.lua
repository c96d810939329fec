-- A small test harness for scripts run through qelv_host.  Each case is a
-- function; a failed check raises.  The summary line is the last output:
-- "N passed, N failed".  Any failure makes the script end in an error, so the
-- host exits 1.

local harness = { cases = {} }

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

-- The error text of calling fn(...), which must raise.
function harness.raises(fn, ...)
  local ok, err = pcall(fn, ...)
  if ok then error("expected an error", 2) end
  return err
end

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
