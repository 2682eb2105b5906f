#pragma once
// The program's command line.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/uMqttOptions.h"
#include "app/uServiceOptions.h"

namespace zelto {

struct TCommandLine {
    bool Headless = false;
    bool Help = false;
    bool Version = false;
    std::optional<uint16_t> Port;
    std::optional<std::string> Adapter;
    std::optional<std::string> AllowOrigin;     // origins whose pages may call the server ("*": all)
    std::optional<int> StreamInterval;          // ms between the live streams' readings
    std::optional<std::string> ScreenshotDir;
    TMqttOptions Mqtt;        // --mqtt, --mqtt-prefix, --mqtt-publish, --mqtt-interval, --mqtt-writes
    TServiceOptions Service;  // --www, --log, --config, --allow, --read-only, --bind, --allow-host, ...
    std::string Error;  // non-empty when the arguments cannot be used
};

// Reads "--headless", "--port N", "--adapter ID", "--allow-origin LIST", "--stream-interval MS",
// "--screenshot DIR", "--help", "--version", the MQTT options and the
// service options (the options with a value also as "--port=N").
TCommandLine ParseCommandLine(const std::vector<std::string>& args);

// The text --help prints.
std::string UsageText();

}  // namespace zelto
