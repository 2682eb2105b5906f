"""Figures of the MQTT publisher and of /metrics (see bench/mqtt.sh). Prints one line per figure with the
target and pass/FAIL; on a loaded machine compare runs, not single figures."""
import http.client
import os
import socket
import statistics
import subprocess
import sys
import threading
import time

import paho.mqtt.client as mqtt

server_bin, work = sys.argv[1], sys.argv[2]
seconds = int(os.environ.get("MQTT_BENCH_SECONDS", "30"))
samples = int(os.environ.get("MQTT_BENCH_SAMPLES", "20"))
interval = 1000
ticks = os.sysconf("SC_CLK_TCK")
page = os.sysconf("SC_PAGESIZE")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_until(condition, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.02)
    return False


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / ticks


def rss(pid):
    with open("/proc/%d/statm" % pid) as f:
        return int(f.read().split()[1]) * page


def get(port, path):
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request("GET", path)
    body = c.getresponse().read()
    c.close()
    return body


def row(figure, value, target, ok):
    print("  %-58s %-14s target %-18s %s" % (figure, value, target, "pass" if ok else "FAIL"), flush=True)


broker_port = free_port()
with open(os.path.join(work, "mosquitto.conf"), "w") as f:
    f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % broker_port)
broker = subprocess.Popen(["mosquitto", "-c", os.path.join(work, "mosquitto.conf")], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
items = ["c%d.v%03d" % (nad, i) for nad in (10, 11, 12) for i in range(100)]
os.makedirs(os.path.join(work, "cfg"), exist_ok=True)
out = open(os.path.join(work, "server.out"), "w")
server = subprocess.Popen([server_bin, "--headless", "--port", "0", "--adapter", "lo", "--config", os.path.join(work, "cfg"),
                           "--mqtt", "mqtt://127.0.0.1:%d" % broker_port, "--mqtt-prefix", "bench", "--mqtt-publish", ",".join(items)],
                          stdout=out, stderr=subprocess.STDOUT, env=dict(os.environ, TEMP=work))
try:
    wait_until(lambda: "listening on port " in open(os.path.join(work, "server.out")).read(), 20)
    port = int(open(os.path.join(work, "server.out")).read().split("listening on port ")[1].split()[0])

    received = {}
    lock = threading.Lock()

    def on_message(client, userdata, msg):
        with lock:
            received[msg.topic] = (msg.payload.decode(), time.monotonic())

    sub = mqtt.Client()
    sub.on_message = on_message
    sub.on_connect = lambda c, u, f, rc: c.subscribe("bench/#", qos=1)
    wait_until(lambda: sub.connect("127.0.0.1", broker_port) == 0, 10)
    sub.loop_start()
    if not wait_until(lambda: len(received) >= 301, 30):
        print("  only %d of 300 variables arrived" % (len(received) - 1))

    # CPU and memory over a quiet stretch: nothing changes, every variable is read once a second.
    time.sleep(2)
    cpu0, rss0, t0 = cpu_seconds(server.pid), rss(server.pid), time.monotonic()
    time.sleep(seconds)
    cpu1, rss1, t1 = cpu_seconds(server.pid), rss(server.pid), time.monotonic()
    share = 100 * (cpu1 - cpu0) / (t1 - t0)
    row("CPU, 300 variables on 3 controllers, 1000 ms (%% of a core)" % (), "%.1f%%" % share, "< 5%", share < 5)
    grown = (rss1 - rss0) / 1048576
    row("RSS growth over %d s (MiB)" % seconds, "%.2f" % grown, "< 4 MiB", grown < 4)

    # A value changed in the controller (written over HTTP) until a subscriber has it.
    delays = []
    for n in range(samples):
        value = 1000 + n
        topic = "bench/c11/v042"
        get(port, "/?c11.v042=%d" % value)
        written = time.monotonic()
        if wait_until(lambda: ('"value":%d,' % value) in received.get(topic, ("", 0))[0], 5):
            delays.append((received[topic][1] - written) * 1000)
        time.sleep(0.137 * (n % 7))  # spread the writes over the round
    median = statistics.median(delays) if delays else float("inf")
    row("change to subscriber, median of %d (ms)" % len(delays), "%.0f" % median, "< %d ms" % (interval + 100),
        median < interval + 100)

    # /metrics with 100 controllers known.
    get(port, "/?" + "&".join("c%d.v000" % n for n in range(10, 110)))
    times = []
    for _ in range(50):
        start = time.perf_counter()
        body = get(port, "/metrics")
        times.append((time.perf_counter() - start) * 1000)
    known = body.decode().count("zelto_controller_up{")
    median = statistics.median(times)
    row("/metrics with %d controllers known, median (ms)" % known, "%.2f" % median, "< 2 ms", median < 2)
    sub.loop_stop()
finally:
    server.terminate()
    server.wait(15)
    broker.terminate()
    broker.wait(10)
