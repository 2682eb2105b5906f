#pragma once
// The MQTT publisher: keeps a broker informed of the listed variables and, when allowed, takes writes
// from it. It is a listener of the stream hub, so its readings share the live streams' rounds (one read
// per controller per round, whatever mix of streams and MQTT wants the values), and it publishes each
// value that changed to <prefix>/c<NAD>/<name> (QoS 1, retained), the whole set again after every
// (re)connection. <prefix>/status says "online" (retained) while it is connected; the broker's will says
// "offline" when the connection is lost, and a clean stop publishes "offline" itself. With writes on, a
// number published to <prefix>/c<NAD>/<name>/set of a listed variable is written like an HTTP write and
// the value read back is published. A broker that is down or goes away is tried again with a growing
// wait (1 s doubling to 30 s); the log and stderr say what could not be reached, and HTTP never waits
// for it.
//
// Threads: one network thread runs the connection (connect, the library's loop, reconnects, the clean
// stop); one writer thread runs the writes that arrive from the broker, through the Writer function (which
// takes the request path's locks itself). The hub calls the listener on its own thread; it only queues
// messages for the network thread. Construction and Stop belong to the thread that starts and ends the
// program.
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "web/uMqttTopics.h"
#include "web/uStreamHub.h"

namespace zelto {

struct TMqttSettings {
    TMqttBroker Broker;
    std::string BrokerText;                 // as the user wrote it, for messages
    std::string CaFile;                     // mqtts: the certificate authority; empty: the system's
    std::string User, Password;
    std::string Prefix;                     // empty: DefaultMqttPrefix()
    std::vector<std::string> Publish;       // items as a query names them
    std::chrono::milliseconds Interval{kDefaultMqttInterval};
    bool Writes = false;
    bool ReadOnly = false;                  // the server's --read-only: every write is refused
};

class TMqttPublisher {
public:
    // Writes and reads back a query "c10.name=value" like an HTTP write (same checks, same request path).
    using TWriter = std::function<TVarResults(const std::string& Query)>;
    // Says a line to the operator (stderr); everything also goes to the log.
    using TSay = std::function<void(const std::string& Text)>;

    TMqttPublisher(TMqttSettings Settings, TStreamHub& Hub, TWriter Writer, TSay Say);
    ~TMqttPublisher();  // Stop
    TMqttPublisher(const TMqttPublisher&) = delete;
    TMqttPublisher& operator=(const TMqttPublisher&) = delete;

    // Leaves the hub, publishes "offline" when connected, disconnects and ends both threads.
    void Stop();
    bool Connected() const;
    const std::string& Prefix() const;

private:
    struct TImpl;
    std::unique_ptr<TImpl> f;
};

}  // namespace zelto
