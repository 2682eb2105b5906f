"""Headless Chromium driven over the DevTools protocol on a pipe (no port is opened), for the browser tests.

DevTools(chromium, work, name) starts the browser with a fresh profile in WORK/profile-NAME; call() sends one
command and returns its result, collecting the events that arrive meanwhile in .events."""
import json
import os
import subprocess
import time

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync", "--disable-dev-shm-usage"]


class DevTools:
    """Commands on fd 3 of the browser, answers and events on its fd 4, each a JSON text ending in NUL."""

    def __init__(self, chromium, work, name, deadline):
        self.deadline = deadline
        to_browser_r, self.to_browser = os.pipe()
        self.from_browser, from_browser_w = os.pipe()

        def wire():
            # Through copies: the pipe's own numbers may be 3 or 4 already, and those are closed on exec.
            r, w = os.dup(to_browser_r), os.dup(from_browser_w)
            os.dup2(r, 3)
            os.dup2(w, 4)

        self.proc = subprocess.Popen(
            [chromium] + FLAGS + ["--remote-debugging-pipe", "--user-data-dir=" + work + "/profile-" + name, "about:blank"],
            close_fds=False, preexec_fn=wire,  # the two ends land on fds 3 and 4 (Python's own fds are not inherited)
            stdout=subprocess.DEVNULL, stderr=open(work + "/chromium-" + name + ".err", "w"))
        os.close(to_browser_r)
        os.close(from_browser_w)
        self.buffer = b""
        self.next_id = 0
        self.events = []

    def _read_message(self):
        while b"\0" not in self.buffer:
            if time.monotonic() > self.deadline:
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

    def open_page(self, url):
        """A new tab at url with its network events on; returns the session for the tab's commands."""
        target = self.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = self.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        self.call("Network.enable", {}, session)
        self.call("Page.navigate", {"url": url}, session)
        return session

    def evaluate(self, session, expression):
        """The value of a JavaScript expression in the tab (promises awaited)."""
        r = self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True, "awaitPromise": True}, session)
        return r["result"].get("value")

    def wait_for(self, session, expression, seconds):
        """The expression's first true value within seconds, else None."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            value = self.evaluate(session, expression)
            if value:
                return value
            time.sleep(0.05)
        return None

    def requests(self):
        """The (url, headers) of every request the tabs sent to a server so far."""
        return [(e["params"]["request"]["url"], e["params"]["request"]["headers"]) for e in self.events
                if e.get("method") == "Network.requestWillBeSent" and e["params"]["request"]["url"].startswith("http")]


class Checks:
    """Prints each check as ok or FAILED and counts the failures."""

    def __init__(self):
        self.failures = 0

    def __call__(self, what, ok, detail=""):
        print(("ok: " if ok else "FAILED: ") + what + (" (" + detail + ")" if detail else ""), flush=True)
        if not ok:
            self.failures += 1

