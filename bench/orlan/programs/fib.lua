local function fib(n) if n < 2 then return n else return fib(n - 1) + fib(n - 2) end end
local t = os.clock()
local r = fib(27)
print(os.clock() - t, r)
