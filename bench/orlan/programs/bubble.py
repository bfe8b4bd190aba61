import time
def main():
    a = [0] * 5000
    x = 12345
    for i in range(5000):
        x = (x * 1103 + 12345) & 0x7FFF
        a[i] = x
    for i in range(4999):
        for j in range(4999 - i):
            if a[j] > a[j + 1]:
                t = a[j]; a[j] = a[j + 1]; a[j + 1] = t
    return "%d %d" % (a[0], a[4999])
t = time.process_time()
r = main()
print(time.process_time() - t, r)
