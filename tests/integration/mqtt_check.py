"""The MQTT publisher against a real mosquitto broker on a free loopback port: the server starts while the
broker is down and serves HTTP regardless; once the broker is up it publishes every listed variable
(QoS 1, retained) and then only changes; a number on .../set is written and read back, a text is not;
after a broker restart the whole set comes again; kill -9 brings the broker's will "offline"; under
--read-only a write changes nothing; a clean stop publishes "offline"."""
import json
import os
import re
import signal
import subprocess
import threading
import time

import paho.mqtt.client as mqtt

from livecheck import WORK, Server, check, finish, free_port, wait_until

PREFIX = "zt"
ITEMS = ["c10.temp", "c10.setpoint", "c10.mode", "c10.alarm", "c10.table[2]"]
PAYLOAD = re.compile(r'^\{"value":(-?[0-9.E-]+|null,"error":"[^"]*"),"ts":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z"\}$')


class Broker:
    def __init__(self, port):
        self.port = port
        self.conf = os.path.join(WORK, "mosquitto.conf")
        with open(self.conf, "w") as f:
            f.write("listener %d 127.0.0.1\nallow_anonymous true\npersistence false\n" % port)
        self.proc = None

    def start(self):
        self.proc = subprocess.Popen(["mosquitto", "-c", self.conf], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        probe = mqtt.Client()
        up = wait_until(lambda: probe.connect("127.0.0.1", self.port) == 0 if self._try() else False, 10)
        probe.disconnect()
        return up

    def _try(self):
        import socket
        with socket.socket() as s:
            return s.connect_ex(("127.0.0.1", self.port)) == 0

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)


class Listener:
    """A subscriber to <prefix>/#: every message with its retain flag, in order."""

    def __init__(self, port):
        self.messages = []
        self.lock = threading.Lock()
        self.client = mqtt.Client()
        self.client.on_message = self.on_message
        self.client.on_connect = lambda c, u, f, rc: c.subscribe(PREFIX + "/#", qos=1)
        self.client.connect("127.0.0.1", port)
        self.client.loop_start()

    def on_message(self, client, userdata, msg):
        with self.lock:
            self.messages.append((msg.topic, msg.payload.decode(), bool(msg.retain), time.monotonic()))

    def of(self, topic):
        with self.lock:
            return [m for m in self.messages if m[0] == PREFIX + "/" + topic]

    def last(self, topic):
        found = self.of(topic)
        return found[-1][1] if found else None

    def close(self):
        self.client.loop_stop()
        self.client.disconnect()


def value_of(payload):
    return json.loads(payload)["value"] if payload else None


def publish(port, topic, text):
    client = mqtt.Client()
    client.connect("127.0.0.1", port)
    client.loop_start()
    client.publish(PREFIX + "/" + topic, text, qos=1).wait_for_publish()
    client.loop_stop()
    client.disconnect()


broker = Broker(free_port())
args = ["--mqtt", "mqtt://127.0.0.1:%d" % broker.port, "--mqtt-prefix", PREFIX, "--mqtt-publish", ",".join(ITEMS),
        "--mqtt-interval", "200", "--mqtt-writes"]
server = Server("server", *args)
try:
    # The broker is down: HTTP answers all the same, and stderr says what could not be reached.
    check("HTTP answers while the broker is down", server.value("c10.mode") == 1)
    check("stderr names the broker it cannot reach",
          wait_until(lambda: "could not reach the MQTT broker 127.0.0.1:%d" % broker.port in server.output(), 5), server.output())

    check("the broker starts", broker.start())
    watch = Listener(broker.port)
    check("status online", wait_until(lambda: watch.last("status") == "online", 15), watch.messages)
    topics = ["c10/temp", "c10/setpoint", "c10/mode", "c10/alarm", "c10/table[2]"]
    check("every listed variable is published", wait_until(lambda: all(watch.of(t) for t in topics), 5), watch.messages)
    payloads = [watch.last(t) for t in topics]
    check("payloads are value and time", all(PAYLOAD.match(p or "") for p in payloads), payloads)
    check("the value is the JSON answer's", value_of(watch.last("c10/mode")) == server.value("c10.mode"))

    # Only changes: the live temperature comes again and again, the constant mode does not.
    time.sleep(1.5)
    check("a changing value is published again", len(watch.of("c10/temp")) >= 3, len(watch.of("c10/temp")))
    check("an unchanged value is not", len(watch.of("c10/mode")) == 1, watch.of("c10/mode"))

    # Retained: a subscriber that comes later gets the last value of each at once.
    late = Listener(broker.port)
    check("a late subscriber gets the retained values",
          wait_until(lambda: all(late.of(t) and late.of(t)[0][2] for t in topics + ["status"]), 5), late.messages)
    late.close()

    # A write through .../set is written like an HTTP write and the value read back is published.
    publish(broker.port, "c10/setpoint/set", "42.5")
    check("the written setpoint is published", wait_until(lambda: value_of(watch.last("c10/setpoint")) == 42.5, 5),
          watch.of("c10/setpoint"))
    check("the controller has the written value", server.value("c10.setpoint") == 42.5)
    publish(broker.port, "c10/mode/set", "two")
    check("a payload that is not a number is logged", wait_until(lambda: "not a number" in server.log(), 5))
    check("and writes nothing", server.value("c10.mode") == 1)
    publish(broker.port, "c10/mode/set", "70000")  # more than a word holds: the type refuses it, as over HTTP
    check("the write reaches the request path", wait_until(lambda: "MQTT write: c10.mode=70000" in server.log(), 5))
    check("a value the type refuses is not written", server.value("c10.mode") == 1)

    # The broker goes away and comes back (without its retained messages): the whole set comes again.
    broker.stop()
    watch.close()
    check("stderr says the connection was lost", wait_until(lambda: "lost the connection" in server.output(), 5), server.output())
    check("the broker starts again", broker.start())
    again = Listener(broker.port)
    check("online again after the broker's restart", wait_until(lambda: again.last("status") == "online", 20), again.messages)
    check("the whole set again", wait_until(lambda: all(again.of(t) for t in topics), 5), again.messages)
    check("with the written setpoint", value_of(again.last("c10/setpoint")) == 42.5)

    # kill -9: the broker's will says offline.
    server.stop(signal.SIGKILL)
    check("the will says offline after kill -9", wait_until(lambda: again.last("status") == "offline", 10), again.of("status"))

    # Read-only, the publisher set up by the settings: writes from the broker change nothing; a clean stop
    # publishes offline itself.
    server = Server("readonly", "--read-only", settings="MqttBroker=mqtt://127.0.0.1:%d\nMqttPrefix=%s\nMqttPublish=%s\n"
                    "MqttInterval=200\nMqttWrites=1\n" % (broker.port, PREFIX, ",".join(ITEMS)))
    check("online under --read-only", wait_until(lambda: again.last("status") == "online", 10), again.of("status"))
    publish(broker.port, "c10/setpoint/set", "10")
    check("the write is refused", wait_until(lambda: "refused: the server runs read-only" in server.log(), 5), server.log())
    check("and the setpoint keeps its value", server.value("c10.setpoint") == 42.5)
    server.stop()
    check("a clean stop publishes offline", wait_until(lambda: again.last("status") == "offline", 5), again.of("status"))
    again.close()
    late = Listener(broker.port)
    check("offline is retained", wait_until(lambda: late.of("status"), 5) and late.of("status")[0][1:3] == ("offline", True),
          late.of("status"))
    late.close()
finally:
    server.stop(signal.SIGKILL)
    broker.stop()
finish()
