local t = os.clock()
local s = 0
for i = 1, 10000000 do s = (s + i * 3) & 0xFFFF end
print(os.clock() - t, s)
