"""What the Python end-to-end checks share: the server process started with its own settings folder and
cache, HTTP requests to it, a free loopback port, and a wait for a condition without fixed sleeps."""
import json
import os
import signal
import socket
import subprocess
import sys
import time
import urllib.error
import urllib.request

WORK = os.environ["ZELTO_WORK"]
SERVER = os.environ["ZELTO_SERVER"]
failures = []


def check(what, ok, detail=""):
    print(("ok: " if ok else "FAILED: ") + what + ("" if ok else "  " + str(detail)), flush=True)
    if not ok:
        failures.append(what)
    return ok


def finish():
    sys.exit(1 if failures else 0)


def wait_until(condition, seconds=10.0, step=0.05):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        value = condition()
        if value:
            return value
        time.sleep(step)
    return condition()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """ZeltoHttpServer --headless on a free port over the loopback adapter, its settings (with the log on,
    and the given lines) in a folder of its own."""

    def __init__(self, name, *args, settings=""):
        self.out_path = os.path.join(WORK, name + ".out")
        for d in ("config", "cache"):
            os.makedirs(os.path.join(WORK, name, d), exist_ok=True)
        config = os.path.join(WORK, name, "config")
        with open(os.path.join(config, "ZeltoHttpServer.conf"), "w") as f:
            f.write("LogToFile=1\n" + settings)
        env = dict(os.environ, TEMP=os.path.join(WORK, name, "cache"))
        self.out = open(self.out_path, "w")
        self.proc = subprocess.Popen([SERVER, "--headless", "--port", "0", "--adapter", "lo", "--config", config,
                                      "--log", os.path.join(WORK, name + ".log"), *args],
                                     stdout=self.out, stderr=subprocess.STDOUT, env=env)
        line = wait_until(lambda: next((l for l in self.output().splitlines() if "listening on port " in l), None), 20)
        if not line:
            raise RuntimeError("the server did not come up:\n" + self.output())
        self.port = int(line.rsplit(" ", 1)[1])

    def output(self):
        with open(self.out_path) as f:
            return f.read()

    def log(self):
        try:
            with open(self.out_path.replace(".out", ".log"), encoding="latin-1") as f:
                return f.read()
        except OSError:
            return ""

    def get(self, path, accept=None):
        request = urllib.request.Request("http://127.0.0.1:%d%s" % (self.port, path))
        if accept:
            request.add_header("Accept", accept)
        try:
            with urllib.request.urlopen(request, timeout=10) as r:
                return r.status, r.headers.get("Content-Type", ""), r.read().decode("utf-8")
        except urllib.error.HTTPError as e:
            return e.code, e.headers.get("Content-Type", ""), e.read().decode("utf-8", "replace")

    def value(self, item):
        """The value of one variable through the JSON answer."""
        status, _, body = self.get("/?" + item, accept="application/json")
        return json.loads(body)["vars"][0]["value"] if status == 200 else None

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
            self.proc.wait(15)
        self.out.close()
