#!/usr/bin/env python3
"""The demo page's live stream in headless Chromium, driven over the DevTools protocol (on a pipe, so no
port is opened). The page must choose the stream, and a value changed in the controller must reach the
page within one second while the page sends no request of its own after the stream opened.

usage: stream_check.py CHROMIUM BASE_URL WORK_DIR    (BASE_URL like http://127.0.0.1:8080)
Exit status 0 when every check passes, 1 otherwise."""
import sys
import time
import urllib.request

from devtools import Checks, DevTools

chromium, base, work = sys.argv[1:4]


def server_request_count():
    with urllib.request.urlopen(base + "/?sys.http_request_count", timeout=5) as r:
        body = r.read().decode("latin-1")
    return int(body.split("<value>")[1].split("</value>")[0])


check = Checks()
browser = DevTools(chromium, work, "stream", time.monotonic() + 60)
try:
    session = browser.open_page(base + "/index.html")

    def page(expression):
        return browser.evaluate(session, expression)

    opened = browser.wait_for(session, "document.body.dataset.transport === 'stream' && Number(document.body.dataset.updates) > 0"
                              " && document.querySelector('tr[data-name=\"c10.trim\"] td.value') !== null", 15)
    check("the page chose the stream and shows the first values", bool(opened),
          "transport=%s" % page("document.body.dataset.transport"))
    sent_before = len(browser.requests())

    old = page("document.querySelector('tr[data-name=\"c10.trim\"]').dataset.value")
    new = "7" if old != "7" else "-3"
    count_before = server_request_count()
    changed_at = time.time()
    urllib.request.urlopen(base + "/?c10.trim=" + new, timeout=5).read()  # another client changes the value
    arrived = browser.wait_for(session, "(() => { const r = document.querySelector('tr[data-name=\"c10.trim\"]');"
                               " return r.dataset.value === '%s' ? Number(r.dataset.changedAt) : 0; })()" % new, 5)
    latency = (arrived / 1000.0 - changed_at) if arrived else None
    check("the changed value reached the page within one second", latency is not None and latency < 1.0,
          "latency %s ms" % (None if latency is None else round(latency * 1000)))

    sent = [url for url, _ in browser.requests()]
    check("the page sent no request after the stream opened", len(sent) == sent_before,
          "%d requests before, %d after: %s" % (sent_before, len(sent), ", ".join(sent[sent_before:])))
    count_after = server_request_count()
    # Between the two counts only this script's write and its second count reached the server.
    check("the server counted no request of the page", count_after == count_before + 2,
          "count %d then %d" % (count_before, count_after))
    check("the page reports the server live", page("document.body.dataset.state") == "live")
finally:
    browser.close()
sys.exit(1 if check.failures else 0)
