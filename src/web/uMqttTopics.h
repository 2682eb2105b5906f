#pragma once
// What the MQTT publisher says and where, as pure text functions: the broker's address from its URL, the
// list of published variables, their topics (<prefix>/c<NAD>/<name>, writes to .../set) and the payload of
// a reading: {"value":22.5,"ts":"2026-12-10T01:02:03.456Z"}, or {"value":null,"error":"...","ts":"..."}
// with the value text and the error of the JSON answer.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "web/uVarResult.h"

namespace zelto {

inline constexpr int kDefaultMqttInterval = 1000;  // ms
inline constexpr int kMinMqttInterval = 20;
inline constexpr int kMaxMqttInterval = 3600000;

struct TMqttBroker {
    bool Tls = false;
    std::string Host;
    uint16_t Port = 1883;
    bool operator==(const TMqttBroker&) const = default;
};

// "mqtt://host[:port]" (port 1883 by default) or "mqtts://host[:port]" (8883); an IPv6 address in
// brackets. nullopt with the reason in Why for anything else.
std::optional<TMqttBroker> ParseMqttUrl(const std::string& Url, std::string& Why);

// The published variables: controller items as a query names them, separated by commas
// ("c10.temp,c10.setpoint,c10.table[2]"); spaces around an item are dropped. nullopt with the reason for
// an item that is not a controller variable to read (a system name, a write, a character that MQTT
// topics reserve) or for a list without items.
std::optional<std::vector<std::string>> ParseMqttPublishList(const std::string& List, std::string& Why);

// The topic of a published item: <prefix>/c<NAD in decimal>/<name with its index>.
std::string MqttTopicOf(const std::string& Prefix, const std::string& Item);

// "zelto/<host name>".
std::string DefaultMqttPrefix();

// The time as UTC with milliseconds: 2026-12-10T01:02:03.456Z.
std::string MqttTimestamp(std::chrono::system_clock::time_point Time);

// The payload of a reading taken at Time.
std::string MqttPayload(const TVarResult& Result, std::chrono::system_clock::time_point Time);

// The payload without its time: what tells whether a value changed.
std::string MqttPayloadValue(const TVarResult& Result);

}  // namespace zelto
