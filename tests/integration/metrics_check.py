"""GET /metrics read by the Prometheus client's own parser: the counters follow the requests made, the
controllers' exchanges and ALC loads are counted per NAD, the process figures are there, and a file
named metrics in the web folder wins over the metrics."""
import os

from prometheus_client.parser import text_string_to_metric_families

from livecheck import WORK, Server, check, finish


def scrape(server):
    status, content_type, body = server.get("/metrics")
    check("/metrics answers 200 in the text format", status == 200 and content_type.startswith("text/plain; version=0.0.4"),
          (status, content_type))
    samples = {}
    for family in text_string_to_metric_families(body):
        for s in family.samples:
            samples[(s.name, tuple(sorted(s.labels.items())))] = s.value
    return samples


def get(samples, name, **labels):
    return samples.get((name, tuple(sorted(labels.items()))), 0)


www = os.path.join(WORK, "www")
os.makedirs(www)
with open(os.path.join(www, "index.html"), "w") as f:
    f.write("<p>hello</p>")
server = Server("metrics", "--www", www)
try:
    before = scrape(server)
    for _ in range(3):
        server.get("/?c10.temp&c10.mode")
    server.get("/?c12.x")  # no controller 12: its exchanges time out
    server.get("/index.html")
    server.get("/missing.html")
    server.get("/missing.html")
    server.get("/?username=a&password=b")
    after = scrape(server)

    def grew(name, **labels):
        return get(after, name, **labels) - get(before, name, **labels)

    check("variable requests counted", grew("zelto_http_requests_total", kind="variable", code="200") == 4)
    check("files by status", grew("zelto_http_requests_total", kind="file", code="200") == 1
          and grew("zelto_http_requests_total", kind="file", code="404") == 2)
    check("the login", grew("zelto_http_requests_total", kind="login", code="200") == 1)
    check("the first scrape itself", grew("zelto_http_requests_total", kind="other", code="200") == 1)
    check("the duration histogram counts them", grew("zelto_http_request_duration_seconds_count", kind="variable") == 4)
    check("and its +Inf bucket agrees", get(after, "zelto_http_request_duration_seconds_bucket", kind="variable", le="+Inf")
          == get(after, "zelto_http_request_duration_seconds_count", kind="variable"))
    check("controller 10 is up", get(after, "zelto_controller_up", nad="10") == 1)
    check("controller 12 is down", ("zelto_controller_up", (("nad", "12"),)) in after and get(after, "zelto_controller_up", nad="12") == 0)
    check("exchanges answered by 10", get(after, "zelto_controller_exchanges_total", nad="10", result="answered") >= 4)
    check("exchanges timed out with 12", get(after, "zelto_controller_exchanges_total", nad="12", result="timeout") >= 1)
    check("one ALC load of 10", get(after, "zelto_controller_alc_loads_total", nad="10") == 1)
    check("one connection open (this one)", get(after, "zelto_http_connections_open") >= 1)
    check("no streams", ("zelto_streams_open", ()) in after and get(after, "zelto_streams_open") == 0)
    check("MQTT off", ("zelto_mqtt_connected", ()) in after and get(after, "zelto_mqtt_connected") == 0)
    for name in ("process_resident_memory_bytes", "process_open_fds", "process_start_time_seconds"):
        check(name, get(after, name) > 0)
    check("process_cpu_seconds_total", ("process_cpu_seconds_total", ()) in after)

    with open(os.path.join(www, "metrics"), "w") as f:
        f.write("my own metrics file")
    status, _, body = server.get("/metrics")
    check("a file named metrics wins", status == 200 and body == "my own metrics file", body[:80])
finally:
    server.stop()
finish()
