local t = os.clock()
local chunk = string.rep("x", 1024)
local s = ""
for i = 1, 1024 do s = s .. chunk end
print(os.clock() - t, #s)
