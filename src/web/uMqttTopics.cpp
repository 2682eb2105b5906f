#include "web/uMqttTopics.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "base/NumberText.h"
#include "web/uJsonText.h"

namespace zelto {

namespace {

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

// The NAD and the name after the first "." of a controller item, or false when it is not one.
bool SplitControllerItem(std::string_view Item, int32_t& Nad, std::string_view& Name) {
    const std::size_t dot = Item.find('.');
    if (Item.size() < 3 || (Item[0] != 'c' && Item[0] != 'C') || dot == std::string_view::npos || dot < 2) return false;
    if (!TryParseWholeNumber(Item.substr(1, dot - 1), Nad)) return false;
    Name = Item.substr(dot + 1);
    return !Name.empty();
}

}  // namespace

std::optional<TMqttBroker> ParseMqttUrl(const std::string& Url, std::string& Why) {
    TMqttBroker broker;
    std::string_view rest = Url;
    if (rest.starts_with("mqtt://")) {
        rest.remove_prefix(7);
    } else if (rest.starts_with("mqtts://")) {
        rest.remove_prefix(8);
        broker.Tls = true;
        broker.Port = 8883;
    } else {
        Why = "an MQTT broker is written mqtt://host[:port] or mqtts://host[:port], not '" + Url + "'";
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    std::string_view port;
    if (rest.starts_with('[')) {
        // An IPv6 address: [address] or [address]:port.
        const std::size_t close = rest.find(']');
        const bool tail = close != std::string_view::npos && close + 1 < rest.size();
        if (close == std::string_view::npos || (tail && rest[close + 1] != ':')) {
            rest = {};
        } else {
            if (tail) port = rest.substr(close + 2);
            rest = rest.substr(1, close - 1);
        }
    } else if (const std::size_t colon = rest.find(':'); colon != std::string_view::npos) {
        port = rest.substr(colon + 1);
        rest = rest.substr(0, colon);
    }
    broker.Host = std::string(rest);
    int32_t number = 0;
    const bool portOk = port.empty() || (port.find_first_not_of("0123456789") == std::string_view::npos &&
                                         port.size() <= 5 && TryParseWholeNumber(port, number) && number > 0 && number < 65536);
    if (broker.Host.empty() || broker.Host.find_first_of("/@?# ") != std::string::npos || !portOk) {
        Why = "an MQTT broker is written mqtt://host[:port] or mqtts://host[:port], not '" + Url + "'";
        return std::nullopt;
    }
    if (!port.empty()) broker.Port = static_cast<uint16_t>(number);
    return broker;
}

std::optional<std::vector<std::string>> ParseMqttPublishList(const std::string& List, std::string& Why) {
    std::vector<std::string> items;
    std::string_view rest = List;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        const std::string_view item = Trim(rest.substr(0, comma));
        rest = comma == std::string_view::npos ? std::string_view{} : rest.substr(comma + 1);
        if (item.empty()) continue;
        int32_t nad = 0;
        std::string_view name;
        const bool usable = SplitControllerItem(item, nad, name) && nad > 0 && !name.starts_with("sys.") &&
                            item.find_first_of("=&/+# \t\\") == std::string_view::npos;
        if (!usable) {
            Why = "'" + std::string(item) + "' is not a controller variable to publish (written like c10.temp)";
            return std::nullopt;
        }
        items.emplace_back(item);
    }
    if (items.empty()) {
        Why = "the list of variables to publish is empty";
        return std::nullopt;
    }
    return items;
}

std::string MqttTopicOf(const std::string& Prefix, const std::string& Item) {
    int32_t nad = 0;
    std::string_view name;
    if (!SplitControllerItem(Item, nad, name)) return Prefix + "/" + Item;
    return Prefix + "/c" + std::to_string(nad) + "/" + std::string(name);
}

std::string DefaultMqttPrefix() {
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "zelto/localhost";
    return std::string("zelto/") + host;
}

std::string MqttTimestamp(std::chrono::system_clock::time_point Time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(Time.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    ::gmtime_r(&seconds, &utc);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms % 1000));
    return text;
}

std::string MqttPayloadValue(const TVarResult& Result) {
    std::string out = "{\"value\":" + JsonVarValue(Result);
    if (Result.Kind == TValueKind::Missing) out += ",\"error\":" + JsonString(VarErrorOf(Result));
    return out;
}

std::string MqttPayload(const TVarResult& Result, std::chrono::system_clock::time_point Time) {
    return MqttPayloadValue(Result) + ",\"ts\":\"" + MqttTimestamp(Time) + "\"}";
}

}  // namespace zelto
