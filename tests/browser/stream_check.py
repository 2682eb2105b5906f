#!/usr/bin/env python3
"""The demo page's live stream in headless Chromium, driven over the DevTools protocol (on a pipe, so no
port is opened). The page must choose the stream, and a value changed in the controller must reach the
page within one second while the page sends no request of its own after the stream opened.

usage: stream_check.py CHROMIUM BASE_URL WORK_DIR    (BASE_URL like http://127.0.0.1:8080)
Exit status 0 when every check passes, 1 otherwise."""
import json
import os
import subprocess
import sys
import time
import urllib.request

chromium, base, work = sys.argv[1:4]
DEADLINE = time.monotonic() + 60


class DevTools:
    """Commands on fd 3 of the browser, answers and events on its fd 4, each a JSON text ending in NUL."""

    def __init__(self):
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()

        def wire():
            # Through copies: the pipe's own numbers may be 3 or 4 already, and those are closed on exec.
            r, w = os.dup(to_browser_r), os.dup(from_browser_w)
            os.dup2(r, 3)
            os.dup2(w, 4)

        self.proc = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--disable-dev-shm-usage", "--remote-debugging-pipe", "--user-data-dir=" + work + "/profile-stream",
             "about:blank"],
            close_fds=False, preexec_fn=wire,  # the two ends land on fds 3 and 4 (Python's own fds are not inherited)
            stdout=subprocess.DEVNULL, stderr=open(work + "/chromium-stream.err", "w"))
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def _read_message(self):
        while b"\0" not in self.buffer:
            if time.monotonic() > DEADLINE:
                raise TimeoutError("the browser did not answer")
            chunk = os.read(self.from_browser, 65536)
            if not chunk:
                raise EOFError("the browser closed its pipe")
            self.buffer += chunk
        text, self.buffer = self.buffer.split(b"\0", 1)
        return json.loads(text)

    def call(self, method, params=None, session=None):
        self.next_id += 1
        message = {"id": self.next_id, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        os.write(self.to_browser, json.dumps(message).encode() + b"\0")
        while True:
            m = self._read_message()
            if m.get("id") == self.next_id:
                if "error" in m:
                    raise RuntimeError(method + ": " + json.dumps(m["error"]))
                return m["result"]
            self.events.append(m)

    def close(self):
        try:
            self.call("Browser.close")
        except Exception:
            pass
        try:
            self.proc.wait(timeout=5)
        except subprocess.TimeoutExpired:
            self.proc.kill()


def server_request_count():
    with urllib.request.urlopen(base + "/?sys.http_request_count", timeout=5) as r:
        body = r.read().decode("latin-1")
    return int(body.split("<value>")[1].split("</value>")[0])


failures = 0


def check(what, ok, detail=""):
    global failures
    print(("ok: " if ok else "FAILED: ") + what + (" (" + detail + ")" if detail else ""))
    if not ok:
        failures += 1


browser = DevTools()
try:
    target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
    session = browser.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
    browser.call("Network.enable", {}, session)
    browser.call("Page.navigate", {"url": base + "/index.html"}, session)

    def page(expression):
        r = browser.call("Runtime.evaluate", {"expression": expression, "returnByValue": True}, session)
        return r["result"].get("value")

    def wait_page(expression, seconds):
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            value = page(expression)
            if value:
                return value
            time.sleep(0.02)
        return None

    opened = wait_page("document.body.dataset.transport === 'stream' && Number(document.body.dataset.updates) > 0"
                       " && document.querySelector('tr[data-name=\"c10.trim\"] td.value') !== null", 15)
    check("the page chose the stream and shows the first values", bool(opened),
          "transport=%s" % page("document.body.dataset.transport"))
    def requests():
        """The page's requests to a server so far (data: addresses need none)."""
        return [e["params"]["request"]["url"] for e in browser.events
                if e.get("method") == "Network.requestWillBeSent" and e["params"]["request"]["url"].startswith("http")]

    sent_before = len(requests())

    old = page("document.querySelector('tr[data-name=\"c10.trim\"] td.value').textContent")
    new = "7" if old != "7" else "-3"
    count_before = server_request_count()
    changed_at = time.time()
    urllib.request.urlopen(base + "/?c10.trim=" + new, timeout=5).read()  # another client changes the value
    arrived = wait_page("(() => { const r = document.querySelector('tr[data-name=\"c10.trim\"]');"
                        " return r.cells[1].textContent === '%s' ? Number(r.dataset.changedAt) : 0; })()" % new, 5)
    latency = (arrived / 1000.0 - changed_at) if arrived else None
    check("the changed value reached the page within one second", latency is not None and latency < 1.0,
          "latency %s ms" % (None if latency is None else round(latency * 1000)))

    sent = requests()
    check("the page sent no request after the stream opened", len(sent) == sent_before,
          "%d requests before, %d after: %s" % (sent_before, len(sent), ", ".join(sent[sent_before:])))
    count_after = server_request_count()
    # Between the two counts only this script's write and its second count reached the server.
    check("the server counted no request of the page", count_after == count_before + 2,
          "count %d then %d" % (count_before, count_after))
    check("the page reports the server live", page("document.body.dataset.state") == "live")
finally:
    browser.close()
sys.exit(1 if failures else 0)
