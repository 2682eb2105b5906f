#!/usr/bin/env python3
"""Live-stream figures of ZeltoHttpServer against ZeltoSim (run by streams.sh inside a private network
namespace, where the only UDP traffic is the server's Q-link with the simulator).

usage: streams.py BASE_URL SERVER_PID INTERVAL_MS
Prints one line per figure and a last line "streams: ..." with all of them; exit status 1 when a target
is missed."""
import os
import random
import selectors
import socket
import statistics
import subprocess
import sys
import time
import urllib.parse
import urllib.request

from benchproc import rss_kib

base, server_pid, interval_ms = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
host, port = urllib.parse.urlsplit(base).hostname, urllib.parse.urlsplit(base).port
QUERY = "c10.temp&c10.level&c10.trim"
deadline = time.monotonic() + 150  # the whole run is bounded


def udp_out():
    """Datagrams sent in this network namespace so far (the server's requests and the simulator's answers)."""
    with open("/proc/net/snmp") as f:
        rows = [line.split() for line in f if line.startswith("Udp:")]
    return int(rows[1][rows[0].index("OutDatagrams")])


def get(query):
    with urllib.request.urlopen(base + "/?" + query, timeout=10) as r:
        return r.status, r.read()


# The benchmark's own HTTP client times the requests when it is there: timed from Python, a request also
# carries the interpreter's work, which grows with the sockets the process holds (100 streams) and would
# be counted against the server.
client = os.environ.get("BENCH_CLIENT", "")


def timed_requests(n, query="c10.temp"):
    """Median and p95 of n requests, in ms."""
    if client and os.access(client, os.X_OK):
        out = subprocess.run([client, "seq", "--port", str(port), "--path", "/?" + query, "--count", str(n),
                              "--warmup", "20"],
                             capture_output=True, text=True, timeout=60).stdout
        figures = dict(item.split("=", 1) for item in out.split() if "=" in item)
        return int(figures["p50"]) / 1000.0, int(figures["p95"]) / 1000.0
    times = []
    for _ in range(n):
        t = time.perf_counter()
        get(query)
        times.append((time.perf_counter() - t) * 1000)
    times.sort()
    return statistics.median(times), times[int(len(times) * 0.95) - 1]


class Stream:
    """One EventSource-like client on a non-blocking socket: the events it got, each with its arrival time.
    Each comes from a loopback address of its own, as streams of many browsers would: the server bounds
    what one client address may hold."""

    opened = 0

    def __init__(self, sel):
        n = Stream.opened
        Stream.opened += 1
        source = ("127.1.%d.%d" % (n // 250, 1 + n % 250), 0) if host.startswith("127.") else None
        self.sock = socket.create_connection((host, port), timeout=5, source_address=source)
        self.sock.sendall(("GET /?%s HTTP/1.1\r\nHost: %s\r\nAccept: text/event-stream\r\n\r\n" % (QUERY, host)).encode())
        self.sock.setblocking(False)
        sel.register(self.sock, selectors.EVENT_READ, self)
        self.raw = b""
        self.head = None
        self.chunked = False
        self.body = b""
        self.status = 0
        self.events = []  # (time, data text)
        self.closed = False

    def on_readable(self):
        try:
            data = self.sock.recv(65536)
        except BlockingIOError:
            return
        now = time.monotonic()
        if not data:
            self.closed = True
            return
        self.raw += data
        if self.head is None:
            if b"\r\n\r\n" not in self.raw:
                return
            self.head, self.raw = self.raw.split(b"\r\n\r\n", 1)
            self.status = int(self.head.split(b" ")[1])
            self.chunked = b"transfer-encoding: chunked" in self.head.lower()
        if self.chunked:
            while True:
                line_end = self.raw.find(b"\r\n")
                if line_end < 0:
                    break
                size = int(self.raw[:line_end].split(b";")[0], 16)
                if len(self.raw) < line_end + 2 + size + 2:
                    break
                self.body += self.raw[line_end + 2:line_end + 2 + size]
                self.raw = self.raw[line_end + 2 + size + 2:]
        else:
            self.body += self.raw
            self.raw = b""
        while b"\n\n" in self.body:
            event, self.body = self.body.split(b"\n\n", 1)
            for line in event.split(b"\n"):
                if line.startswith(b"data: "):
                    self.events.append((now, line[6:].decode()))


class Streams:
    def __init__(self):
        self.sel = selectors.DefaultSelector()
        self.all = []

    def open(self, n):
        for _ in range(n):
            self.all.append(Stream(self.sel))

    def pump(self, seconds, until=None):
        end = min(time.monotonic() + seconds, deadline)
        while time.monotonic() < end:
            for key, _ in self.sel.select(timeout=0.01):
                key.data.on_readable()
            if until is not None and until():
                return True
        return until is None

    def close(self):
        for s in self.all:
            self.sel.unregister(s.sock)
            s.sock.close()
        self.all = []


failed = []


def target(name, ok):
    if not ok:
        failed.append(name)


get(QUERY)  # loads the controller's variable list
rss_before = rss_kib(server_pid)
warm_median, warm_p95 = timed_requests(200)
print("warm one-variable request without streams: median %.2f ms, p95 %.2f ms" % (warm_median, warm_p95))

before = udp_out()
for _ in range(20):
    get(QUERY)
per_request = (udp_out() - before) / 20.0
print("Q-link datagrams of one variable request on c10: %.1f" % per_request)

streams = Streams()


def datagrams_per_interval(seconds=4.0):
    streams.pump(1.0)  # settle
    before_count = udp_out()
    streams.pump(seconds)
    return (udp_out() - before_count) / (seconds * 1000.0 / interval_ms)


streams.open(1)
one = datagrams_per_interval()
streams.open(99)
streams.pump(3.0, lambda: all(s.events for s in streams.all))
opened = sum(1 for s in streams.all if s.status == 200 and s.events)
hundred = datagrams_per_interval()
reads_one, reads_hundred = one / per_request, hundred / per_request
print("streams open with a first event: %d of 100" % opened)
print("Q-link reads of c10 per interval: %.2f with 1 stream, %.2f with 100 streams" % (reads_one, reads_hundred))
target("100 streams open", opened == 100)
target("one read per interval with 100 streams", reads_hundred <= 1.1)

latencies = []
for k in range(10):
    value = str(100 + k)
    streams.pump(random.uniform(0, interval_ms / 1000.0))  # changes fall anywhere in a round
    for s in streams.all:
        s.events.clear()
    t0 = time.monotonic()
    get("c10.trim=" + value)
    needle = '"name":"c10.trim","value":%s,' % value
    streams.pump(5.0, lambda: all(any(needle in e for _, e in s.events) for s in streams.all))
    for s in streams.all:
        arrived = [t for t, e in s.events if needle in e]
        latencies.append((arrived[0] - t0) * 1000 if arrived else float("inf"))
latencies.sort()
worst = latencies[-1]
print("change to stream latency (100 streams, 10 changes, from sending the write): median %.0f ms, max %.0f ms"
      " (target <= interval + 50 = %d ms)" % (statistics.median(latencies), worst, interval_ms + 50))
target("change latency", worst <= interval_ms + 50)

busy_median, busy_p95 = timed_requests(200)
streams.pump(0.5)  # the streams read what came meanwhile, as their browsers would
print("warm one-variable request while 100 streams run: median %.2f ms, p95 %.2f ms" % (busy_median, busy_p95))

streams.open(156)
streams.pump(5.0, lambda: all(s.events for s in streams.all))
opened = sum(1 for s in streams.all if s.status == 200 and s.events)
streams.pump(2.0)
rss_after = rss_kib(server_pid)
extra = Stream(streams.sel)
streams.all.append(extra)
streams.pump(3.0, lambda: extra.status != 0)
growth = (rss_after - rss_before) / 1024.0
print("256 streams: %d open; server RSS %.1f MiB -> %.1f MiB, growth %.1f MiB (target < 16); stream 257: %d"
      % (opened, rss_before / 1024.0, rss_after / 1024.0, growth, extra.status))
target("256 streams open", opened == 256)
target("RSS growth", growth < 16)
target("503 beyond 256", extra.status == 503)
streams.close()

print("streams: interval %d ms; reads/interval 1 stream %.2f, 100 streams %.2f; latency median %.0f max %.0f ms;"
      " warm request median %.2f -> %.2f ms (p95 %.2f -> %.2f); RSS growth 256 streams %.1f MiB%s"
      % (interval_ms, reads_one, reads_hundred, statistics.median(latencies), worst, warm_median, busy_median,
         warm_p95, busy_p95, growth, "" if not failed else "; MISSED: " + ", ".join(failed)))
sys.exit(1 if failed else 0)
