#include "app/uCommandLine.h"

namespace zelto {

namespace {

bool ParsePort(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<unsigned>(c - '0');
    }
    if (v > 65535) return false;
    port = static_cast<uint16_t>(v);
    return true;
}

}  // namespace

TCommandLine ParseCommandLine(const std::vector<std::string>& args) {
    TCommandLine cl;
    for (std::size_t i = 0; i < args.size() && cl.Error.empty(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        const auto eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.erase(eq);
        }
        // The value of an option: after "=", or the next argument.
        auto value = [&]() -> std::optional<std::string> {
            if (inlineValue) return inlineValue;
            if (i + 1 < args.size()) return args[++i];
            cl.Error = arg + " needs a value";
            return std::nullopt;
        };
        if (arg == "--headless" && !inlineValue) {
            cl.Headless = true;
        } else if ((arg == "--help" || arg == "-h") && !inlineValue) {
            cl.Help = true;
        } else if (arg == "--version" && !inlineValue) {
            cl.Version = true;
        } else if (arg == "--port") {
            const auto v = value();
            uint16_t port = 0;
            if (v && !ParsePort(*v, port)) cl.Error = "--port needs a number from 0 to 65535, not '" + *v + "'";
            if (v && cl.Error.empty()) cl.Port = port;
        } else if (arg == "--adapter") {
            if (const auto v = value()) cl.Adapter = *v;
        } else if (arg == "--allow-origin") {
            if (const auto v = value()) cl.AllowOrigin = *v;
        } else if (arg == "--stream-interval") {
            const auto v = value();
            uint16_t ms = 0;
            if (v && (!ParsePort(*v, ms) || ms == 0))
                cl.Error = "--stream-interval needs a number of milliseconds from 1 to 65535, not '" + *v + "'";
            if (v && cl.Error.empty()) cl.StreamInterval = ms;
        } else if (arg == "--screenshot") {
            if (const auto v = value()) cl.ScreenshotDir = *v;
        } else if (IsMqttOption(arg)) {
            const std::string why = ReadMqttOption(arg, inlineValue.has_value(), value, cl.Mqtt);
            if (!why.empty()) cl.Error = why;
        } else if (IsServiceOption(arg)) {
            const std::string why = ReadServiceOption(arg, inlineValue.has_value(), value, cl.Service);
            if (!why.empty()) cl.Error = why;
        } else {
            cl.Error = "unknown argument '" + args[i] + "'";
        }
    }
    return cl;
}

std::string UsageText() {
    return "Usage: ZeltoHttpServer [--headless] [--port N] [--adapter ID] [--screenshot DIR] [--help] [--version]\n"
           "                       [--www DIR] [--log FILE] [--config DIR] [--allow LIST] [--read-only] [--bind ADDRESS]\n"
           "                       [--allow-origin LIST] [--stream-interval MS] [--parallel-controllers N]\n"
           "                       [--max-request-items N] [--max-request-controllers N]\n"
           "                       [--allow-host LIST] [--write-header] [--log-stale-answers]\n"
           "                       [--mqtt URL] [--mqtt-prefix TEXT] [--mqtt-publish LIST] [--mqtt-interval MS]\n"
           "                       [--mqtt-writes]\n"
           "\n"
           "Serves the variables of Zelto controllers on the local network over HTTP.\n"
           "\n"
           "  --headless     run without a window until SIGINT or SIGTERM (without it: a window and a tray icon)\n"
           "  --port N       listen for HTTP on port N for this run (0 picks a free port); not saved\n"
           "  --adapter ID   use the network adapter ID (e.g. eth0) for Q-link for this run; not saved\n"
           "  --allow-origin LIST  let pages from these origins call the server (\"*\": any page; a list\n"
           "                 like \"http://a.example,https://b.example:8443\") for this run; not saved\n"
           "  --stream-interval MS  read the values of live streams every MS milliseconds (default 250)\n"
           "                 for this run; not saved\n"
           "  --screenshot DIR  (with the window) kill -USR1 saves a picture of the window into DIR,\n"
           "                 kill -USR2 pictures of the window and the dialogs\n"
           + ServiceUsageText() + MqttUsageText() +
           "  --help         print this text\n"
           "  --version      print the version\n";
}

}  // namespace zelto
