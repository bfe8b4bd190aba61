import time
def main():
    s = 0
    for i in range(1, 10000001):
        s = (s + i * 3) & 0xFFFF
    return s
t = time.perf_counter()
r = main()
print(time.perf_counter() - t, r)
