#pragma once
// The server's metrics for monitoring (Prometheus): counters of HTTP requests by kind and status with a
// histogram of their durations, how every exchange with each controller ended and whether its last one was
// answered, the controllers' variable-list loads, the MQTT publisher's state, and the standard process_*
// figures read from /proc/self. One registry serves the whole process; MetricsText writes it in the text
// exposition format, version 0.0.4.
//
// Threads: every Note/Count call and MetricsText may run on any thread at once; one small mutex guards the
// counters (each call holds it for a few map operations, never for I/O).
#include <array>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "qlink/uExchangeObserver.h"

namespace zelto {

enum class TRequestKind { File, Variable, Login, Stream, Other };

// One sample line: the metric's name with its suffix (_total, _bucket ...), labels in order, the value.
struct TMetricSample {
    std::string Name;
    std::vector<std::pair<std::string, std::string>> Labels;
    double Value = 0;
};

// A metric family: its HELP and TYPE lines and its samples.
struct TMetricFamily {
    std::string Name;
    std::string Help;
    std::string Type;  // counter, gauge, histogram
    std::vector<TMetricSample> Samples;
};

// The families in the text exposition format 0.0.4: label values escaped (\\, \", \n), HELP texts escaped
// (\\, \n), numbers as integers when whole, otherwise with the digits a double needs; +Inf, -Inf, NaN.
std::string PrometheusText(const std::vector<TMetricFamily>& Families);
// A sample value as that format writes it.
std::string PrometheusNumber(double Value);

inline constexpr const char* kMetricsContentType = "text/plain; version=0.0.4; charset=utf-8";

// The figures that belong to others and are asked for when the metrics are written.
struct TMetricsGauges {
    int HttpConnectionsOpen = 0;
    std::size_t StreamsOpen = 0;
};

class TMetrics {
public:
    // A request answered: its kind, status code and the time the handler took, in seconds.
    void CountRequest(TRequestKind Kind, int Code, double Seconds);
    void NoteExchange(int32_t Nad, TExchangeResult Result);
    void NoteAlcLoad(int32_t Nad);
    void NoteMqttConnected(bool Connected);
    void CountMqttPublished();

    // Every family, the process's own last.
    std::vector<TMetricFamily> Families(const TMetricsGauges& Gauges) const;
    std::string Text(const TMetricsGauges& Gauges) const { return PrometheusText(Families(Gauges)); }

    // The upper bounds of the request-duration buckets, in seconds (+Inf follows).
    static constexpr std::array<double, 12> kBuckets{0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                     0.1,   0.25,   0.5,   1,    2.5,   10};

private:
    static constexpr std::size_t kKinds = 5;
    struct THistogram {
        std::array<uint64_t, kBuckets.size()> Buckets{};  // counts per bucket (not cumulative)
        uint64_t Count = 0;
        double Sum = 0;
    };
    struct TController {
        std::array<uint64_t, 3> Exchanges{};  // by TExchangeResult
        uint64_t AlcLoads = 0;
        bool Up = false;
    };

    mutable std::mutex fLock;
    std::map<std::pair<TRequestKind, int>, uint64_t> fRequests;
    std::array<THistogram, kKinds> fDurations{};
    std::map<int32_t, TController> fControllers;
    bool fMqttConnected = false;
    uint64_t fMqttPublished = 0;
};

// The process's registry; InstallMetricsObservers lets the Q-link and proxy layers report into it.
TMetrics& Metrics();
void InstallMetricsObservers();

// process_resident_memory_bytes, process_virtual_memory_bytes, process_open_fds, process_cpu_seconds_total
// and process_start_time_seconds of this process; families whose /proc file cannot be read are left out.
std::vector<TMetricFamily> ProcessFamilies();

}  // namespace zelto
