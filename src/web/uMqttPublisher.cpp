#include "web/uMqttPublisher.h"

#include <mosquitto.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <thread>

#include "base/NumberText.h"
#include "log/uLog.h"
#include "web/uMetrics.h"

namespace zelto {

namespace {

constexpr int kKeepAliveSeconds = 15;
constexpr int kLoopTimeoutMs = 200;
constexpr std::chrono::seconds kFirstRetry{1};
constexpr std::chrono::seconds kLongestRetry{30};
constexpr std::size_t kMaxQueuedWrites = 64;
constexpr std::size_t kMaxWritePayload = 64;
constexpr const char* kOnline = "online";
constexpr const char* kOffline = "offline";

std::string_view TrimSpace(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

}  // namespace

struct TMqttPublisher::TImpl {
    TMqttSettings Settings;
    TStreamHub& Hub;
    TWriter Writer;
    TSay Say;
    std::string Where;  // host:port, for messages
    std::string StatusTopic;
    std::map<std::string, std::string> TopicOfItem;
    std::map<std::string, std::string> ItemOfSetTopic;
    mosquitto* Mosq = nullptr;
    TStreamHub::TListenerId Listener = 0;

    std::mutex Lock;  // Last, Writes, Stopping's waits
    std::condition_variable Wake;
    std::map<std::string, std::string> Last;  // item -> payload (without its time) last published
    std::deque<std::pair<std::string, std::string>> Writes;  // set topic's item, payload
    std::atomic<bool> Connected{false};
    std::atomic<bool> JustConnected{false};
    std::atomic<bool> Stopping{false};
    std::atomic<int> StopMid{-1};
    std::atomic<bool> StopPublished{false};
    std::thread Network;
    std::thread WriteThread;

    TImpl(TMqttSettings s, TStreamHub& hub, TWriter writer, TSay say)
        : Settings(std::move(s)), Hub(hub), Writer(std::move(writer)), Say(std::move(say)) {}

    void Tell(const std::string& text, bool toOperator) {
        MyLog.AddLog("MQTT: " + text);
        if (toOperator && Say) Say(text);
    }

    // Waits up to Time unless the publisher stops; false when it stops.
    bool Pause(std::chrono::milliseconds Time) {
        std::unique_lock<std::mutex> lock(Lock);
        return !Wake.wait_for(lock, Time, [this] { return Stopping.load(); });
    }

    // Publishes one reading when it differs from what the broker has of it.
    void PublishResult(const TVarResult& r, std::chrono::system_clock::time_point now) {
        const auto topic = TopicOfItem.find(r.Name);
        if (topic == TopicOfItem.end() || !Connected) return;
        const std::string value = MqttPayloadValue(r);
        {
            std::lock_guard<std::mutex> lock(Lock);
            std::string& last = Last[r.Name];
            if (last == value) return;
            last = value;
        }
        const std::string payload = MqttPayload(r, now);
        const int rc = mosquitto_publish(Mosq, nullptr, topic->second.c_str(), static_cast<int>(payload.size()),
                                         payload.data(), 1, true);
        if (rc == MOSQ_ERR_SUCCESS) {
            Metrics().CountMqttPublished();
        } else {
            std::lock_guard<std::mutex> lock(Lock);
            Last.erase(r.Name);  // tried again with the next change or the next connection
        }
    }

    void PublishStatus(const char* text, int* mid) {
        if (mosquitto_publish(Mosq, mid, StatusTopic.c_str(), static_cast<int>(std::strlen(text)), text, 1, true) ==
            MOSQ_ERR_SUCCESS)
            Metrics().CountMqttPublished();
    }

    void OnConnect(int rc) {
        if (rc != 0) {
            Tell(std::string("the MQTT broker ") + Where + " refused the connection: " + mosquitto_connack_string(rc), true);
            mosquitto_disconnect(Mosq);
            return;
        }
        Connected = true;
        Metrics().NoteMqttConnected(true);
        PublishStatus(kOnline, nullptr);
        if (Settings.Writes) {
            const std::string sets = Settings.Prefix + "/+/+/set";
            mosquitto_subscribe(Mosq, nullptr, sets.c_str(), 1);
        }
        JustConnected = true;  // the network thread resends the whole set, outside the library's callback
    }

    void OnMessage(const mosquitto_message* m) {
        if (m == nullptr || m->topic == nullptr) return;
        const auto item = ItemOfSetTopic.find(m->topic);
        if (item == ItemOfSetTopic.end()) {
            Tell(std::string("write to ") + m->topic + " ignored: it is not the topic of a published variable", false);
            return;
        }
        std::string payload(static_cast<const char*>(m->payload), static_cast<std::size_t>(std::max(m->payloadlen, 0)));
        std::lock_guard<std::mutex> lock(Lock);
        if (Writes.size() >= kMaxQueuedWrites) {
            MyLog.AddLog("MQTT: write to " + item->second + " dropped: too many writes are waiting");
            return;
        }
        Writes.emplace_back(item->second, std::move(payload));
        Wake.notify_all();
    }

    // The writes from the broker, one after the other, each like an HTTP write of the variable.
    void RunWrites() {
        for (;;) {
            std::pair<std::string, std::string> write;
            {
                std::unique_lock<std::mutex> lock(Lock);
                Wake.wait(lock, [this] { return Stopping || !Writes.empty(); });
                if (Stopping) return;
                write = std::move(Writes.front());
                Writes.pop_front();
            }
            const auto& [item, payload] = write;
            const std::string_view text = TrimSpace(payload);
            double number = 0;
            if (payload.size() > kMaxWritePayload || text.empty() || !TryParseDecimalNumber(text, number)) {
                Tell("write to " + item + " ignored: the payload is not a number", false);
                continue;
            }
            if (Settings.ReadOnly) {
                Tell("write to " + item + " refused: the server runs read-only", false);
                continue;
            }
            MyLog.AddLog("MQTT write: " + item + "=" + std::string(text));
            try {
                const auto now = std::chrono::system_clock::now();
                for (const TVarResult& r : Writer(item + "=" + std::string(text))) PublishResult(r, now);
            } catch (const std::exception& e) {
                Tell("write to " + item + " failed: " + e.what(), false);
            }
        }
    }

    // The connection's life: connect, run the library's loop, and after a failure wait longer each time.
    void RunNetwork() {
        std::chrono::milliseconds wait = kFirstRetry;
        bool reported = false;  // the operator hears once per run of failures; the log hears every one
        while (!Stopping) {
            // Without waiting for the TCP connection (the loop below completes it), so that a stop is never
            // held up by a broker that does not answer; one that does not complete within the keep-alive
            // time is given up by the library.
            const int rc = mosquitto_connect_async(Mosq, Settings.Broker.Host.c_str(), Settings.Broker.Port, kKeepAliveSeconds);
            if (rc != MOSQ_ERR_SUCCESS) {
                const std::string why = rc == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(rc);
                Tell("could not reach the MQTT broker " + Where + ": " + why + "; trying again in " +
                         std::to_string(wait.count() / 1000) + " s",
                     !reported);
                reported = true;
                if (!Pause(wait)) break;
                wait = std::min<std::chrono::milliseconds>(wait * 2, kLongestRetry);
                continue;
            }
            int loop = MOSQ_ERR_SUCCESS;
            while (!Stopping && loop == MOSQ_ERR_SUCCESS) {
                loop = mosquitto_loop(Mosq, kLoopTimeoutMs, 1);
                if (JustConnected.exchange(false)) {
                    wait = kFirstRetry;
                    Tell("connected to the MQTT broker " + Where, reported);  // the operator heard of the outage
                    reported = false;
                    {
                        std::lock_guard<std::mutex> lock(Lock);
                        Last.clear();
                    }
                    Hub.Resend(Listener);
                }
            }
            if (Stopping) break;
            const bool wasConnected = Connected.exchange(false);
            Metrics().NoteMqttConnected(false);
            const std::string why = loop == MOSQ_ERR_ERRNO ? std::strerror(errno) : mosquitto_strerror(loop);
            Tell((wasConnected ? "lost the connection to the MQTT broker " : "could not reach the MQTT broker ") +
                     Where + ": " + why + "; trying again in " + std::to_string(wait.count() / 1000) + " s",
                 !reported);
            reported = true;
            if (!Pause(wait)) break;
            wait = std::min<std::chrono::milliseconds>(wait * 2, kLongestRetry);
        }
        if (Connected) CleanStop();
        Connected = false;
        Metrics().NoteMqttConnected(false);
    }

    // "offline" is published and acknowledged before the clean disconnect (after which the broker keeps
    // the will to itself), within two seconds.
    void CleanStop() {
        int mid = -1;
        StopPublished = false;
        PublishStatus(kOffline, &mid);
        StopMid = mid;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
        while (!StopPublished && std::chrono::steady_clock::now() < deadline &&
               mosquitto_loop(Mosq, 50, 1) == MOSQ_ERR_SUCCESS) {
        }
        mosquitto_disconnect(Mosq);
        for (int i = 0; i < 5 && mosquitto_loop(Mosq, 20, 1) == MOSQ_ERR_SUCCESS; ++i) {
        }
        Tell("disconnected from the MQTT broker " + Where, false);
    }
};

TMqttPublisher::TMqttPublisher(TMqttSettings Settings, TStreamHub& Hub, TWriter Writer, TSay Say)
    : f(std::make_unique<TImpl>(std::move(Settings), Hub, std::move(Writer), std::move(Say))) {
    static std::once_flag init;
    std::call_once(init, [] { mosquitto_lib_init(); });
    TMqttSettings& s = f->Settings;
    if (s.Prefix.empty()) s.Prefix = DefaultMqttPrefix();
    f->Where = (s.Broker.Host.find(':') != std::string::npos ? "[" + s.Broker.Host + "]" : s.Broker.Host) + ":" +
               std::to_string(s.Broker.Port);
    f->StatusTopic = s.Prefix + "/status";
    for (const std::string& item : s.Publish) {
        const std::string topic = MqttTopicOf(s.Prefix, item);
        f->TopicOfItem[item] = topic;
        f->ItemOfSetTopic[topic + "/set"] = item;
    }
    f->Mosq = mosquitto_new(nullptr, true, f.get());
    if (f->Mosq == nullptr) throw std::runtime_error("MQTT: out of memory");
    mosquitto_threaded_set(f->Mosq, true);
    mosquitto_will_set(f->Mosq, f->StatusTopic.c_str(), static_cast<int>(std::strlen(kOffline)), kOffline, 1, true);
    if (!s.User.empty()) mosquitto_username_pw_set(f->Mosq, s.User.c_str(), s.Password.empty() ? nullptr : s.Password.c_str());
    if (s.Broker.Tls) {
        const int rc = mosquitto_tls_set(f->Mosq, s.CaFile.empty() ? nullptr : s.CaFile.c_str(),
                                         s.CaFile.empty() ? "/etc/ssl/certs" : nullptr, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS)
            f->Tell("cannot use the certificate authority " + (s.CaFile.empty() ? std::string("/etc/ssl/certs") : s.CaFile) +
                        ": " + mosquitto_strerror(rc),
                    true);
    }
    mosquitto_connect_callback_set(f->Mosq, [](mosquitto*, void* obj, int rc) { static_cast<TImpl*>(obj)->OnConnect(rc); });
    mosquitto_message_callback_set(f->Mosq, [](mosquitto*, void* obj, const mosquitto_message* m) {
        static_cast<TImpl*>(obj)->OnMessage(m);
    });
    mosquitto_publish_callback_set(f->Mosq, [](mosquitto*, void* obj, int mid) {
        auto* impl = static_cast<TImpl*>(obj);
        if (mid == impl->StopMid) impl->StopPublished = true;
    });
    if (s.Writes && s.ReadOnly)
        f->Tell("writes from the broker are refused: the server runs read-only", true);
    TImpl* impl = f.get();
    f->Listener = Hub.Subscribe(s.Publish, s.Interval, [impl](const TVarResults& changed) {
        const auto now = std::chrono::system_clock::now();
        for (const TVarResult& r : changed) impl->PublishResult(r, now);
    });
    f->Network = std::thread([impl] { impl->RunNetwork(); });
    if (s.Writes) f->WriteThread = std::thread([impl] { impl->RunWrites(); });
}

TMqttPublisher::~TMqttPublisher() {
    Stop();
    if (f->Mosq != nullptr) mosquitto_destroy(f->Mosq);
}

void TMqttPublisher::Stop() {
    if (!f->Network.joinable() && !f->WriteThread.joinable()) return;
    f->Hub.Unsubscribe(f->Listener);  // no reading reaches the publisher any more
    {
        std::lock_guard<std::mutex> lock(f->Lock);
        f->Stopping = true;
    }
    f->Wake.notify_all();
    if (f->WriteThread.joinable()) f->WriteThread.join();
    if (f->Network.joinable()) f->Network.join();
}

bool TMqttPublisher::Connected() const { return f->Connected; }

const std::string& TMqttPublisher::Prefix() const { return f->Settings.Prefix; }

}  // namespace zelto
