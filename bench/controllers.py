#!/usr/bin/env python3
"""Controller figures of ZeltoHttpServer against ZeltoSim (run by controllers.sh inside a private network
namespace: controllers 10..17 answer, every other NAD is silent).

usage: controllers.py BASE_URL SERVER_PID SAMPLES
Prints one line per figure with its target and pass or FAIL, and a last line "controllers: ..." with all of
them; exit status 1 when a target is missed."""
import socket
import statistics
import sys
import threading
import time
import urllib.parse

from benchproc import rss_kib

base, server_pid, samples = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
host, port = urllib.parse.urlsplit(base).hostname, urllib.parse.urlsplit(base).port
HEALTHY = "c10.w"
SILENT64 = "&".join("c%d.w" % nad for nad in range(100, 164))
results, failed = [], []


def get(query, source="127.0.0.1", accept=None, timeout=10):
    """One request on a new connection; returns (status, seconds)."""
    start = time.perf_counter()
    with socket.create_connection((host, port), timeout=timeout, source_address=(source, 0)) as s:
        head = "GET /?%s HTTP/1.1\r\nHost: %s\r\nConnection: close\r\n" % (query, host)
        if accept:
            head += "Accept: %s\r\n" % accept
        s.sendall((head + "\r\n").encode())
        data = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            data += chunk
    status = int(data.split(b" ", 2)[1]) if data.startswith(b"HTTP/") else 0
    return status, time.perf_counter() - start


def healthy(n):
    """Median and worst of n healthy requests, in ms."""
    times = sorted(get(HEALTHY)[1] * 1000 for _ in range(n))
    return statistics.median(times), times[-1]


def figure(name, text, ok):
    results.append("%s=%s" % (name, text.split()[0]))
    if not ok:
        failed.append(name)
    print("%-58s %s %s" % (name, text, "pass" if ok else "FAIL"), flush=True)


class Loop:
    """A client that repeats one request until stopped."""

    def __init__(self, query, accept=None):
        self.stop = False
        self.count = 0
        self.thread = threading.Thread(target=self.run, args=(query, accept), daemon=True)
        self.thread.start()
        time.sleep(0.05)

    def run(self, query, accept):
        while not self.stop:
            try:
                get(query, accept=accept, timeout=30)
            except OSError:
                pass
            self.count += 1

    def end(self):
        self.stop = True
        self.thread.join(timeout=30)


get(HEALTHY)  # the controller's list loaded, the socket open
alone_median, alone_worst = healthy(samples)
print("healthy controller alone: median %.2f ms, worst %.2f ms" % (alone_median, alone_worst), flush=True)

for name, query, accept in (("while a client loops on a silent controller", "c99.w", None),
                            ("while a client loops on sys.nad_list", "sys.nad_list", None),
                            ("while a client loops on 64 silent controllers", SILENT64, None),
                            ("while a stream watches a silent controller", "c98.w", "text/event-stream")):
    load = Loop(query, accept) if accept is None else None
    stream = None
    if accept:
        stream = socket.create_connection((host, port), timeout=5)
        stream.sendall(("GET /?%s HTTP/1.1\r\nHost: %s\r\nAccept: %s\r\n\r\n" % (query, host, accept)).encode())
        time.sleep(2)  # the stream's first reading has waited out its time-out
    # Long enough to overlap several time-outs of the load.
    end = time.monotonic() + 3.5
    times = []
    while time.monotonic() < end or len(times) < samples:
        times.append(get(HEALTHY)[1] * 1000)
        if len(times) >= samples * 20:
            break
    if load:
        load.end()
    if stream:
        stream.close()
    times.sort()
    median, worst = statistics.median(times), times[-1]
    figure("healthy " + name, "%.2fx median (%.2f ms), worst %.2f ms of %d" % (median / alone_median, median, worst, len(times)),
           median <= 1.5 * alone_median and worst <= 50)

# Ten clients send a request naming 64 silent controllers and hang up at once.
for _ in range(10):
    s = socket.create_connection((host, port), timeout=5)
    s.sendall(("GET /?%s HTTP/1.1\r\nHost: %s\r\n\r\n" % (SILENT64, host)).encode())
    s.close()
time.sleep(0.1)
try:
    took = get(HEALTHY, timeout=20)[1] * 1000
except OSError:
    took = float("inf")
figure("healthy right after ten abandoned 64-silent requests", "%.2f ms" % took, took <= 50)
time.sleep(2)

# Twenty clients ask one silent controller at once.
slowest = [0.0]
def silent_client():
    try:
        slowest[0] = max(slowest[0], get("c97.w", timeout=60)[1])
    except OSError:
        slowest[0] = float("inf")
threads = [threading.Thread(target=silent_client) for _ in range(20)]
for t in threads:
    t.start()
for t in threads:
    t.join()
figure("20 clients on one silent controller: slowest", "%.2f s" % slowest[0], slowest[0] <= 2)

# Eight clients on eight controllers against one client.
def rate(nads, seconds=3.0):
    counts = [0] * len(nads)
    end = time.monotonic() + seconds
    def client(i):
        while time.monotonic() < end:
            get("c%d.w" % nads[i])
            counts[i] += 1
    ts = [threading.Thread(target=client, args=(i,)) for i in range(len(nads))]
    for t in ts:
        t.start()
    for t in ts:
        t.join()
    return sum(counts) / seconds
for nad in range(10, 18):
    get("c%d.w" % nad)
one, eight = rate([10]), rate(list(range(10, 18)))
figure("8 clients on 8 controllers against 1 client", "%.2fx (%.0f/s vs %.0f/s)" % (eight / one, eight, one), eight >= 1.3 * one)

# 60 000 names of unknown controllers, 1000 to a request (64 controllers each).
before_median = healthy(samples)[0]
rss_before = rss_kib(server_pid)
worst = 0.0
for r in range(60):
    query = "&".join("c%d.sys.x" % (1000 + r * 64 + i % 64) for i in range(1000))
    worst = max(worst, get(query, timeout=60)[1])
growth = (rss_kib(server_pid) - rss_before) / 1024.0
after_median = healthy(samples)[0]
figure("60000 names of unknown controllers: RSS growth", "%.2f MiB" % growth, growth < 8)
figure("60000 names: slowest request of 1000", "%.3f s" % worst, worst <= 1)
figure("normal request after them against before", "%.2fx (%.2f vs %.2f ms)" % (after_median / before_median, after_median, before_median),
       after_median <= 1.5 * before_median)

# One client opens 300 streams; another client's stream is answered.
sockets, refused = [], 0
for _ in range(300):
    s = socket.create_connection((host, port), timeout=5)
    s.sendall(("GET /?c11.w HTTP/1.1\r\nHost: %s\r\nAccept: text/event-stream\r\n\r\n" % host).encode())
    sockets.append(s)
for s in sockets:
    s.settimeout(5)
    try:
        if b" 429 " in s.recv(200):
            refused += 1
    except OSError:
        pass
other = socket.create_connection((host, port), timeout=5, source_address=("127.0.0.2", 0))
other.sendall(("GET /?c11.w HTTP/1.1\r\nHost: %s\r\nAccept: text/event-stream\r\n\r\n" % host).encode())
other.settimeout(5)
answer = other.recv(200)
for s in sockets + [other]:
    s.close()
figure("a second client's stream while one opens 300", "%s (%d of 300 refused)" % (answer.split(b"\r\n")[0].decode(), refused),
       b" 200 " in answer)

print("controllers: " + " ".join(results), flush=True)
sys.exit(1 if failed else 0)
