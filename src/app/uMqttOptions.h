#pragma once
// The options and settings of the MQTT publisher: --mqtt URL (MqttBroker), --mqtt-prefix TEXT (MqttPrefix),
// --mqtt-publish LIST (MqttPublish), --mqtt-interval MS (MqttInterval), --mqtt-writes (MqttWrites=1), and
// in the settings only MqttCaFile, MqttUser and MqttPassword. Everything is off until a broker is named.
// An option applies to this run only and wins over its setting.
#include <functional>
#include <optional>
#include <string>

#include "web/uMqttPublisher.h"

namespace zelto {

struct TMqttOptions {
    std::optional<std::string> Broker;
    std::optional<std::string> Prefix;
    std::optional<std::string> Publish;
    std::optional<int> Interval;
    bool Writes = false;
    // Settings only.
    std::string CaFile, User, Password;
};

bool IsMqttOption(const std::string& arg);
// Reads one of these options; "" or the reason its value cannot be used (as ReadServiceOption).
std::string ReadMqttOption(const std::string& arg, bool hasInlineValue,
                           const std::function<std::optional<std::string>()>& value, TMqttOptions& options);

class TRegistry;
// The settings from an open key; a value of the wrong type throws ERegistryException like every read.
TMqttOptions ReadMqttSettings(const TRegistry& reg);

// What the command line (first) and the settings come to: nullopt while no broker is named. Throws
// ERegistryException ("Invalid value for 'MqttPublish': ...") for a stored value that cannot be used.
std::optional<TMqttSettings> ResolveMqttSettings(const TMqttOptions& commandLine, const TMqttOptions& stored,
                                                 bool readOnly);

std::string MqttUsageText();

}  // namespace zelto
