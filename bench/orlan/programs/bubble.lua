local t0 = os.clock()
local a = {}
local x = 12345
for i = 0, 4999 do x = (x * 1103 + 12345) & 0x7FFF; a[i] = x end
for i = 0, 4998 do
  for j = 0, 4998 - i do
    if a[j] > a[j + 1] then local t = a[j]; a[j] = a[j + 1]; a[j + 1] = t end
  end
end
print(os.clock() - t0, a[0] .. " " .. a[4999])
