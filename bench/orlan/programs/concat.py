import time
def main():
    chunk = "x" * 1024
    s = ""
    for i in range(1024):
        s = s + chunk
    return len(s)
t = time.process_time()
r = main()
print(time.process_time() - t, r)
