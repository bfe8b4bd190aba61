import time
def main():
    s = 0
    for i in range(1, 10000001):
        s = (s + i * 3) & 0xFFFF
    return s
t = time.process_time()
r = main()
print(time.process_time() - t, r)
