import time
def main():
    chunk = "x" * 1024
    s = ""
    for i in range(1024):
        s = s + chunk
    return len(s)
t = time.perf_counter()
r = main()
print(time.perf_counter() - t, r)
