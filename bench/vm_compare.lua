-- The workloads of the side-by-side VM benchmark in Lua: the algorithms of bench/vm/*.vasm and
-- vm_compare_c.c, written the way a Lua programmer writes them.
--
--   lua5.4 vm_compare.lua <workload> <arg>...      prints "<result> <seconds>"
--
-- The clock covers the whole workload, except in sieve, where building the table of each pass is
-- set-up and only the strike and tally phases are timed, as on the other runtimes.
--
-- Works unchanged on Lua 5.4 (64-bit integers) and LuaJIT (doubles): no result here leaves the
-- range where both are exact, and the driver compares results modulo 2^32. WeightedSum, needed
-- by "natives", is the C function that vm_compare_lua.c registers; the stock interpreters lack it.

local function fib(n)
  if n < 2 then return n end
  return fib(n - 1) + fib(n - 2)
end

local function sum(n)
  local s = 0
  for i = 1, n do s = s + i end
  return s
end

local function sieve(n, reps)
  local total, seconds = 0, 0
  for _ = 1, reps do
    -- Filled from 1 so the whole range lives in the table's array part, as a fresh array would.
    local composite = {}
    for i = 1, n do composite[i] = false end
    local t0 = os.clock()
    local i = 2
    while i * i <= n do
      if not composite[i] then
        for j = i * i, n, i do composite[j] = true end
      end
      i = i + 1
    end
    local count = 0
    for k = 2, n do
      if not composite[k] then count = count + 1 end
    end
    seconds = seconds + (os.clock() - t0)
    total = total + count
  end
  return total, seconds
end

local function natives(n)
  local weighted_sum = WeightedSum
  local s = 0
  for i = 1, n do s = s + weighted_sum(i, 1, 2, 3) end
  return s
end

local workloads = { fib = fib, sum = sum, sieve = sieve, natives = natives }

local name = arg[1]
local fn = workloads[name]
if not fn then
  io.stderr:write("usage: vm_compare.lua fib|sum|sieve|natives <arg>...\n")
  os.exit(2)
end
if name == "natives" and type(WeightedSum) ~= "function" then
  io.stderr:write("vm_compare.lua: natives needs the host program that registers WeightedSum\n")
  os.exit(2)
end
local args = {}
for k = 2, #arg do
  local v = tonumber(arg[k])
  if not v then
    io.stderr:write("vm_compare.lua: not a number: " .. arg[k] .. "\n")
    os.exit(2)
  end
  args[#args + 1] = v
end

local unpack_args = table.unpack or unpack
local t0 = os.clock()
local result, timed = fn(unpack_args(args))
local t1 = os.clock()
io.write(string.format("%d %.6f\n", result, timed or (t1 - t0)))
