#include "app/uMqttOptions.h"

#include "base/NumberText.h"
#include "platform/uRegistry.h"

namespace zelto {

namespace {

bool ParseInterval(const std::string& text, int& ms) {
    int32_t v = 0;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 7 ||
        !TryParseWholeNumber(text, v) || v < kMinMqttInterval || v > kMaxMqttInterval)
        return false;
    ms = v;
    return true;
}

std::string IntervalExpected() {
    return "a number of milliseconds from " + std::to_string(kMinMqttInterval) + " to " + std::to_string(kMaxMqttInterval);
}

}  // namespace

bool IsMqttOption(const std::string& arg) {
    return arg == "--mqtt" || arg == "--mqtt-prefix" || arg == "--mqtt-publish" || arg == "--mqtt-interval" ||
           arg == "--mqtt-writes";
}

std::string ReadMqttOption(const std::string& arg, bool hasInlineValue,
                           const std::function<std::optional<std::string>()>& value, TMqttOptions& options) {
    if (arg == "--mqtt-writes") {
        if (hasInlineValue) return "--mqtt-writes takes no value";
        options.Writes = true;
        return {};
    }
    const auto v = value();
    if (!v) return {};
    std::string why;
    if (arg == "--mqtt") {
        if (!ParseMqttUrl(*v, why)) return "--mqtt: " + why;
        options.Broker = *v;
    } else if (arg == "--mqtt-prefix") {
        if (v->empty() || v->find_first_of("+#") != std::string::npos || v->back() == '/')
            return "--mqtt-prefix needs a topic without + and # that does not end in /, not '" + *v + "'";
        options.Prefix = *v;
    } else if (arg == "--mqtt-publish") {
        if (!ParseMqttPublishList(*v, why)) return "--mqtt-publish: " + why;
        options.Publish = *v;
    } else if (arg == "--mqtt-interval") {
        int ms = 0;
        if (!ParseInterval(*v, ms)) return "--mqtt-interval needs " + IntervalExpected() + ", not '" + *v + "'";
        options.Interval = ms;
    }
    return {};
}

TMqttOptions ReadMqttSettings(const TRegistry& reg) {
    TMqttOptions s;
    if (reg.ValueExists("MqttBroker")) s.Broker = reg.ReadString("MqttBroker");
    if (reg.ValueExists("MqttPrefix")) s.Prefix = reg.ReadString("MqttPrefix");
    if (reg.ValueExists("MqttPublish")) s.Publish = reg.ReadString("MqttPublish");
    if (reg.ValueExists("MqttInterval")) s.Interval = reg.ReadInteger("MqttInterval");
    if (reg.ValueExists("MqttWrites")) s.Writes = reg.ReadBool("MqttWrites");
    if (reg.ValueExists("MqttCaFile")) s.CaFile = reg.ReadString("MqttCaFile");
    if (reg.ValueExists("MqttUser")) s.User = reg.ReadString("MqttUser");
    if (reg.ValueExists("MqttPassword")) s.Password = reg.ReadString("MqttPassword");
    return s;
}

std::optional<TMqttSettings> ResolveMqttSettings(const TMqttOptions& commandLine, const TMqttOptions& stored,
                                                 bool readOnly) {
    const auto refuse = [](const char* name, const std::string& why) {
        return ERegistryException(std::string("Invalid value for '") + name + "': " + why);
    };
    const std::optional<std::string>& url = commandLine.Broker ? commandLine.Broker : stored.Broker;
    if (!url || url->empty()) return std::nullopt;
    TMqttSettings s;
    std::string why;
    const auto broker = ParseMqttUrl(*url, why);
    if (!broker) throw refuse("MqttBroker", why);
    s.Broker = *broker;
    s.BrokerText = *url;
    s.CaFile = stored.CaFile;
    s.User = stored.User;
    s.Password = stored.Password;
    s.Prefix = commandLine.Prefix.value_or(stored.Prefix.value_or(""));
    if (s.Prefix.find_first_of("+#") != std::string::npos || (!s.Prefix.empty() && s.Prefix.back() == '/'))
        throw refuse("MqttPrefix", "a topic without + and # that does not end in /");
    const std::optional<std::string>& list = commandLine.Publish ? commandLine.Publish : stored.Publish;
    if (list && !list->empty()) {
        const auto items = ParseMqttPublishList(*list, why);
        if (!items) throw refuse("MqttPublish", why);
        s.Publish = *items;
    }
    const int interval = commandLine.Interval.value_or(stored.Interval.value_or(kDefaultMqttInterval));
    if (interval < kMinMqttInterval || interval > kMaxMqttInterval) throw refuse("MqttInterval", IntervalExpected());
    s.Interval = std::chrono::milliseconds(interval);
    s.Writes = commandLine.Writes || stored.Writes;
    s.ReadOnly = readOnly;
    return s;
}

std::string MqttUsageText() {
    return "  --mqtt URL     publish values to the MQTT broker at mqtt://host[:1883] or mqtts://host[:8883]\n"
           "                 (setting MqttBroker; MqttCaFile, MqttUser and MqttPassword in the settings only)\n"
           "  --mqtt-prefix TEXT  topics begin with TEXT (setting MqttPrefix; default zelto/<host name>)\n"
           "  --mqtt-publish LIST  the variables to publish, e.g. c10.temp,c10.setpoint,c10.table[2]\n"
           "                 (setting MqttPublish)\n"
           "  --mqtt-interval MS  read the published variables every MS milliseconds (setting MqttInterval;\n"
           "                 default 1000)\n"
           "  --mqtt-writes  write a number published to <prefix>/c<NAD>/<name>/set to that variable\n"
           "                 (setting MqttWrites=1; never with --read-only)\n";
}

}  // namespace zelto
