#include "web/uMetrics.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace zelto {

namespace {

constexpr const char* kKindNames[] = {"file", "variable", "login", "stream", "other"};
constexpr const char* kExchangeNames[] = {"answered", "timeout", "refused"};

void AppendEscaped(std::string& out, const std::string& text, bool quotes) {
    for (const char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '"' && quotes) out += "\\\"";
        else out += c;
    }
}

TMetricFamily Family(std::string Name, std::string Help, std::string Type) {
    return TMetricFamily{std::move(Name), std::move(Help), std::move(Type), {}};
}

void ObserveExchange(int32_t Nad, TExchangeResult Result) { Metrics().NoteExchange(Nad, Result); }
void ObserveAlcLoad(int32_t Nad) { Metrics().NoteAlcLoad(Nad); }

}  // namespace

std::string PrometheusNumber(double Value) {
    if (std::isnan(Value)) return "NaN";
    if (std::isinf(Value)) return Value > 0 ? "+Inf" : "-Inf";
    if (Value == std::floor(Value) && std::fabs(Value) < 1e15) return std::to_string(static_cast<int64_t>(Value));
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", Value);
    // The shortest text that reads back as the same double, so 0.1 is not written 0.10000000000000001.
    for (int digits = 1; digits < 17; ++digits) {
        char shorter[32];
        std::snprintf(shorter, sizeof shorter, "%.*g", digits, Value);
        if (std::strtod(shorter, nullptr) == Value) return shorter;
    }
    return text;
}

std::string PrometheusText(const std::vector<TMetricFamily>& Families) {
    std::string out;
    for (const TMetricFamily& f : Families) {
        out += "# HELP " + f.Name + ' ';
        AppendEscaped(out, f.Help, false);
        out += "\n# TYPE " + f.Name + ' ' + f.Type + '\n';
        for (const TMetricSample& s : f.Samples) {
            out += s.Name;
            if (!s.Labels.empty()) {
                out += '{';
                for (std::size_t i = 0; i < s.Labels.size(); ++i) {
                    if (i > 0) out += ',';
                    out += s.Labels[i].first + "=\"";
                    AppendEscaped(out, s.Labels[i].second, true);
                    out += '"';
                }
                out += '}';
            }
            out += ' ' + PrometheusNumber(s.Value) + '\n';
        }
    }
    return out;
}

void TMetrics::CountRequest(TRequestKind Kind, int Code, double Seconds) {
    const auto k = static_cast<std::size_t>(Kind);
    std::size_t bucket = 0;
    while (bucket < kBuckets.size() && Seconds > kBuckets[bucket]) ++bucket;
    std::lock_guard<std::mutex> lock(fLock);
    ++fRequests[{Kind, Code}];
    THistogram& h = fDurations[k];
    if (bucket < kBuckets.size()) ++h.Buckets[bucket];
    ++h.Count;
    h.Sum += Seconds;
}

void TMetrics::NoteExchange(int32_t Nad, TExchangeResult Result) {
    if (Nad <= 0) return;  // a ping to every controller (autodetection) is nobody's exchange
    std::lock_guard<std::mutex> lock(fLock);
    TController& c = fControllers[Nad];
    ++c.Exchanges[static_cast<std::size_t>(Result)];
    c.Up = Result == TExchangeResult::Answered;
}

void TMetrics::NoteAlcLoad(int32_t Nad) {
    std::lock_guard<std::mutex> lock(fLock);
    ++fControllers[Nad].AlcLoads;
}

void TMetrics::NoteMqttConnected(bool Connected) {
    std::lock_guard<std::mutex> lock(fLock);
    fMqttConnected = Connected;
}

void TMetrics::CountMqttPublished() {
    std::lock_guard<std::mutex> lock(fLock);
    ++fMqttPublished;
}

std::vector<TMetricFamily> TMetrics::Families(const TMetricsGauges& Gauges) const {
    std::vector<TMetricFamily> out;
    auto requests = Family("zelto_http_requests_total", "HTTP requests answered, by kind and status code.", "counter");
    auto durations = Family("zelto_http_request_duration_seconds",
                            "Time the request handler took to answer, by kind of request.", "histogram");
    auto connections = Family("zelto_http_connections_open", "HTTP connections open now.", "gauge");
    connections.Samples.push_back({connections.Name, {}, static_cast<double>(Gauges.HttpConnectionsOpen)});
    auto streams = Family("zelto_streams_open", "Live streams (Server-Sent Events) open now.", "gauge");
    streams.Samples.push_back({streams.Name, {}, static_cast<double>(Gauges.StreamsOpen)});
    auto up = Family("zelto_controller_up", "1 when the controller answered its last exchange, else 0.", "gauge");
    auto exchanges = Family("zelto_controller_exchanges_total", "Q-link exchanges with each controller, by how they ended.", "counter");
    auto loads = Family("zelto_controller_alc_loads_total", "Times the controller's variable list (ALC) was loaded.", "counter");
    auto mqtt = Family("zelto_mqtt_connected", "1 while the MQTT publisher is connected to its broker.", "gauge");
    auto published = Family("zelto_mqtt_messages_published_total", "MQTT messages handed to the broker.", "counter");
    {
        std::lock_guard<std::mutex> lock(fLock);
        for (const auto& [key, count] : fRequests)
            requests.Samples.push_back({requests.Name,
                                        {{"kind", kKindNames[static_cast<std::size_t>(key.first)]}, {"code", std::to_string(key.second)}},
                                        static_cast<double>(count)});
        for (std::size_t k = 0; k < kKinds; ++k) {
            const THistogram& h = fDurations[k];
            if (h.Count == 0) continue;
            uint64_t cumulative = 0;
            for (std::size_t b = 0; b < kBuckets.size(); ++b) {
                cumulative += h.Buckets[b];
                durations.Samples.push_back({durations.Name + "_bucket", {{"kind", kKindNames[k]}, {"le", PrometheusNumber(kBuckets[b])}},
                                             static_cast<double>(cumulative)});
            }
            durations.Samples.push_back({durations.Name + "_bucket", {{"kind", kKindNames[k]}, {"le", "+Inf"}}, static_cast<double>(h.Count)});
            durations.Samples.push_back({durations.Name + "_sum", {{"kind", kKindNames[k]}}, h.Sum});
            durations.Samples.push_back({durations.Name + "_count", {{"kind", kKindNames[k]}}, static_cast<double>(h.Count)});
        }
        for (const auto& [nad, c] : fControllers) {
            const std::string n = std::to_string(nad);
            up.Samples.push_back({up.Name, {{"nad", n}}, c.Up ? 1.0 : 0.0});
            for (std::size_t r = 0; r < c.Exchanges.size(); ++r)
                exchanges.Samples.push_back({exchanges.Name, {{"nad", n}, {"result", kExchangeNames[r]}}, static_cast<double>(c.Exchanges[r])});
            loads.Samples.push_back({loads.Name, {{"nad", n}}, static_cast<double>(c.AlcLoads)});
        }
        mqtt.Samples.push_back({mqtt.Name, {}, fMqttConnected ? 1.0 : 0.0});
        published.Samples.push_back({published.Name, {}, static_cast<double>(fMqttPublished)});
    }
    for (auto* f : {&requests, &durations, &connections, &streams, &up, &exchanges, &loads, &mqtt, &published})
        out.push_back(std::move(*f));
    for (TMetricFamily& f : ProcessFamilies()) out.push_back(std::move(f));
    return out;
}

TMetrics& Metrics() {
    static TMetrics metrics;
    return metrics;
}

void InstallMetricsObservers() {
    gExchangeObserver = &ObserveExchange;
    gAlcLoadObserver = &ObserveAlcLoad;
}

std::vector<TMetricFamily> ProcessFamilies() {
    std::vector<TMetricFamily> out;
    const double ticks = static_cast<double>(::sysconf(_SC_CLK_TCK));
    const double page = static_cast<double>(::sysconf(_SC_PAGESIZE));
    std::ifstream statm("/proc/self/statm");
    double vsize = 0, rss = 0;
    if (statm >> vsize >> rss) {
        auto f = Family("process_resident_memory_bytes", "Resident memory size in bytes.", "gauge");
        f.Samples.push_back({f.Name, {}, rss * page});
        out.push_back(std::move(f));
        auto v = Family("process_virtual_memory_bytes", "Virtual memory size in bytes.", "gauge");
        v.Samples.push_back({v.Name, {}, vsize * page});
        out.push_back(std::move(v));
    }
    std::error_code ec;
    double fds = 0;
    for (std::filesystem::directory_iterator it("/proc/self/fd", ec), end; !ec && it != end; it.increment(ec)) ++fds;
    if (!ec) {
        auto f = Family("process_open_fds", "Number of open file descriptors.", "gauge");
        f.Samples.push_back({f.Name, {}, fds - 1});  // less the one that lists the folder
        out.push_back(std::move(f));
    }
    // /proc/self/stat: the fields after the command's closing parenthesis, from field 3 (state) on.
    std::ifstream statFile("/proc/self/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    const auto paren = stat.rfind(')');
    if (ticks > 0 && paren != std::string::npos) {
        std::istringstream fields(stat.substr(paren + 2));
        std::vector<std::string> f;
        for (std::string word; fields >> word;) f.push_back(word);
        // utime, stime and starttime are fields 14, 15 and 22 of the whole line.
        if (f.size() > 19) {
            auto cpu = Family("process_cpu_seconds_total", "Total user and system CPU time spent in seconds.", "counter");
            cpu.Samples.push_back({cpu.Name, {}, (std::stod(f[11]) + std::stod(f[12])) / ticks});
            out.push_back(std::move(cpu));
            std::ifstream procStat("/proc/stat");
            for (std::string line; std::getline(procStat, line);) {
                if (line.rfind("btime ", 0) != 0) continue;
                auto start = Family("process_start_time_seconds", "Start time of the process since unix epoch in seconds.", "gauge");
                start.Samples.push_back({start.Name, {}, std::stod(line.substr(6)) + std::stod(f[19]) / ticks});
                out.push_back(std::move(start));
            }
        }
    }
    return out;
}

}  // namespace zelto
