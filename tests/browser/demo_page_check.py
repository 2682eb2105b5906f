#!/usr/bin/env python3
"""The demo page as an operator and a web developer meet it, in headless Chromium over the DevTools protocol.

Nothing in the page's address writes; the Write button writes, with the headers X-Zelto-Write and Accept.
On a desktop (1280x800) and a phone (390x844) screen, with the controller live, silent (ZeltoSim stopped
with SIGSTOP) and back (SIGCONT), and at last with the server gone: the page is no wider than the screen,
controls are at least 44 px high, every text has a contrast of at least 4.5:1; one banner says since when
the controller or the server has given nothing, the last values stay and are marked stale, and the banner
goes when values flow again. Pictures of each state go to OUT_DIR (demo-<width>-<state>.png).

usage: demo_page_check.py CHROMIUM BASE_URL WORK_DIR OUT_DIR SIM_PID SERVER_PID
Exit status 0 when every check passes, 1 otherwise."""
import base64
import json
import os
import re
import signal
import sys
import time
import urllib.request

from devtools import Checks, DevTools

chromium, base, work, out = sys.argv[1:5]
sim_pid, server_pid = int(sys.argv[5]), int(sys.argv[6])
SCREENS = [(1280, 800), (390, 844)]

# Facts about the page at its current state, worked out in the page.
FACTS = r"""(() => {
  const parse = (c) => { const p = c.match(/[\d.]+/g).map(Number); return { r: p[0], g: p[1], b: p[2], a: p.length > 3 ? p[3] : 1 }; };
  const lum = (c) => [c.r, c.g, c.b].map((v) => { v /= 255; return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4); })
                                   .reduce((s, v, i) => s + v * [0.2126, 0.7152, 0.0722][i], 0);
  const background = (el) => {
    for (let e = el; e; e = e.parentElement) { const c = parse(getComputedStyle(e).backgroundColor); if (c.a > 0) return c; }
    return { r: 255, g: 255, b: 255, a: 1 };
  };
  const lowContrast = [];
  for (const el of document.querySelectorAll("body *")) {
    if (!Array.from(el.childNodes).some((n) => n.nodeType === 3 && n.textContent.trim())) continue;
    const box = el.getBoundingClientRect();
    if (box.width === 0 || box.height === 0) continue;
    const a = lum(parse(getComputedStyle(el).color)), b = lum(background(el));
    const ratio = (Math.max(a, b) + 0.05) / (Math.min(a, b) + 0.05);
    if (ratio < 4.5) lowContrast.push(el.tagName + " '" + el.textContent.trim().slice(0, 30) + "' " + ratio.toFixed(2));
  }
  const banner = document.getElementById("banner");
  const rows = Array.from(document.querySelectorAll("#vars tbody tr"));
  return {
    documentWidth: document.documentElement.scrollWidth, viewport: window.innerWidth,
    lowContrast,
    lowControls: Array.from(document.querySelectorAll("input, button")).filter((c) => c.getBoundingClientRect().height < 44)
                      .map((c) => c.tagName + " " + c.getBoundingClientRect().height),
    banner: banner.hidden ? "" : banner.textContent,
    rows: rows.length,
    stale: rows.filter((r) => r.dataset.state === "stale" && getComputedStyle(r.querySelector(".stale-mark")).display !== "none").length,
    live: rows.filter((r) => r.dataset.state === "live").length,
    shown: Object.fromEntries(rows.map((r) => [r.dataset.name, r.dataset.shown])),
    writeMessage: document.getElementById("write-result").textContent,
    state: document.body.dataset.state,
  };
})()"""


def setpoint():
    req = urllib.request.Request(base + "/?c10.setpoint", headers={"Accept": "application/json"})
    with urllib.request.urlopen(req, timeout=5) as r:
        return json.loads(r.read())["vars"][0]["value"]


check = Checks()
browser = DevTools(chromium, work, "demo", time.monotonic() + 150)
try:
    # Nothing in the address writes, however it is written.
    before = setpoint()
    poller = browser.open_page(base + "/index.html#setpoint=42.5&transport=poll&c10.setpoint=42.5")
    polled = browser.wait_for(poller, "Number(document.body.dataset.polls) >= 2 && document.body.dataset.state", 15)
    check("the page polls and reports the server live", polled == "live", str(polled))
    check("the page says that it polls", browser.evaluate(poller, "document.body.dataset.transport") == "polling")
    check("nothing in the address wrote", setpoint() == before and
          not any("setpoint=" in url for url, _ in browser.requests()), "setpoint %s, was %s" % (setpoint(), before))

    # The button writes, saying so in its headers.
    target = 42.5 if before != 42.5 else 44.5
    browser.evaluate(poller, "document.getElementById('setpoint-input').value = '%s';"
                             " document.querySelector('#write-form button').click()" % target)
    written = browser.wait_for(poller, "document.body.dataset.written", 10)
    check("the written setpoint read back", written == str(target).rstrip("0").rstrip("."), str(written))
    writes = [h for url, h in browser.requests() if "c10.setpoint=%s" % target in url]
    check("the write went with X-Zelto-Write: 1 and Accept: application/json",
          len(writes) == 1 and writes[0].get("X-Zelto-Write") == "1" and writes[0].get("Accept") == "application/json",
          json.dumps(writes))
    shown = browser.evaluate(poller, "document.querySelector('tr[data-name=\"c10.setpoint\"]').dataset.shown")
    check("the setpoint shows one decimal and its unit", shown in ("%.1f\u00a0°C" % target, ("%.1f\u00a0°C" % target).replace(".", ",")),
          repr(shown))
    check("the page says so", "Written" in browser.evaluate(poller, "document.getElementById('write-result').textContent"))

    # The live page on both screens.
    pages = []
    for width, height in SCREENS:
        session = browser.open_page("about:blank")
        browser.call("Emulation.setDeviceMetricsOverride",
                     {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": width < 600}, session)
        browser.call("Page.navigate", {"url": base + "/index.html"}, session)
        pages.append((width, session))

    def shoot(state):
        for width, session in pages:
            size = browser.call("Page.getLayoutMetrics", {}, session)["cssContentSize"]
            shot = browser.call("Page.captureScreenshot", {"format": "png", "captureBeyondViewport": True, "clip": {
                "x": 0, "y": 0, "width": width, "height": size["height"], "scale": 1}}, session)
            with open(os.path.join(out, "demo-%d-%s.png" % (width, state)), "wb") as f:
                f.write(base64.b64decode(shot["data"]))

    def expect(state, condition, seconds):
        """Waits on every screen until condition holds of the facts, then checks the common ones."""
        for width, session in pages:
            browser.wait_for(session, "(() => { const f = %s; return %s; })()" % (FACTS, condition), seconds)
            f = browser.evaluate(session, FACTS)
            tag = "%s at %d px: " % (state, width)
            check(tag + "the page is no wider than the screen", f["documentWidth"] <= f["viewport"],
                  "document %d px, screen %d px" % (f["documentWidth"], f["viewport"]))
            check(tag + "every text has a contrast of 4.5:1 or more", not f["lowContrast"], "; ".join(f["lowContrast"]))
            check(tag + "controls are 44 px high or more", not f["lowControls"], "; ".join(f["lowControls"]))
            yield width, f
        time.sleep(0.6)  # the change highlight has faded
        shoot(state)

    live_values = {}
    for width, f in expect("live", "f.state === 'live' && f.live === 10", 15):
        live_values[width] = f["shown"]
        check("live at %d px: no banner, no stale value" % width, f["banner"] == "" and f["stale"] == 0, json.dumps(f))
        check("live at %d px: rounded values with units and state names" % width,
              re.fullmatch(r"-?\d+[.,]\d\u00a0°C", f["shown"]["c10.temp"]) is not None
              and f["shown"]["c10.pump"] in ("on", "off") and f["shown"]["c10.mode"] == "auto", json.dumps(f["shown"]))

    os.kill(sim_pid, signal.SIGSTOP)  # the controller falls silent
    for width, f in expect("silent", "f.banner !== ''", 20):
        check("silent at %d px: one banner says since when" % width,
              f["banner"].startswith("Controller 10 not responding since ") and len(f["banner"]) == len("Controller 10 not responding since 00:00:00"),
              repr(f["banner"]))
        check("silent at %d px: the last values stay, marked stale" % width,
              f["stale"] == 10 and "?" not in f["shown"].values() and f["shown"]["c10.mode"] == live_values[width]["c10.mode"],
              json.dumps(f))
    gone = browser.wait_for(poller, "document.getElementById('write-result').textContent === ''", 10)
    check("silent: the old write message is gone", bool(gone))
    os.kill(sim_pid, signal.SIGCONT)  # and answers again
    for width, f in expect("back", "f.banner === '' && f.live === 10", 30):
        check("back at %d px: the banner went by itself, the values are live" % width,
              f["banner"] == "" and f["live"] == 10 and f["stale"] == 0, json.dumps(f))

    os.kill(server_pid, signal.SIGTERM)  # the server goes away
    for width, f in expect("server-gone", "f.banner !== ''", 20):
        check("server gone at %d px: the banner says so" % width, f["banner"].startswith("Server not reachable since "),
              repr(f["banner"]))
        check("server gone at %d px: every value marked stale" % width, f["stale"] == 10, json.dumps(f))
finally:
    os.kill(sim_pid, signal.SIGCONT)
    browser.close()
sys.exit(1 if check.failures else 0)
