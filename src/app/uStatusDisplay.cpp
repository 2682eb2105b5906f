#include "app/uStatusDisplay.h"

#include <cmath>
#include <stdexcept>

namespace zelto {

namespace {

constexpr double kMsPerDay = 86400000.0;
constexpr double kFirstDay = -693593.0;  // 0001-01-01
constexpr double kLastDay = 2958465.0;   // 9999-12-31

std::string RequestsText(int32_t count) { return std::to_string(count) + " requests"; }

}  // namespace

std::string FormatStatusTimestamp(TDateTime dt, const TFormatSettings& fs) {
    // Years 1 to 9999 only, as the calendar of the date-times knows them.
    if (!(dt >= kFirstDay && dt < kLastDay + 1)) throw std::out_of_range("Invalid date-time");
    const TDateTimeParts p = DecodeDateTime(dt);
    std::string year = std::to_string(p.Year);
    if (year.size() < 4) year.insert(0, 4 - year.size(), '0');
    return year + "-" + TwoDigits(p.Month) + "-" + TwoDigits(p.Day) + " " + TwoDigits(p.Hour) + fs.TimeSeparator +
           TwoDigits(p.Minute) + fs.TimeSeparator + TwoDigits(p.Second) + "." + ThreeDigits(p.MilliSecond);
}

int64_t MilliSecondsBetween(TDateTime a, TDateTime b) {
    const double ms = std::fabs(a - b) * kMsPerDay;
    if (!(ms < 9.0e18)) return INT64_MAX;  // also NaN: a time that cannot be compared is long past
    // Rounded: date-times a whole number of milliseconds apart differ by a fraction below it in a double.
    return std::llround(ms);
}

void ResetStatusImages(TStatusView& view, bool listenerActive) {
    for (auto& panel : view.Panels) panel.Picture = spControllerIdle;
    view.PhonePicture = listenerActive ? spClientWaiting : spListenerInactive;
}

void UpdateStatus(TStatusView& view, const TStatusInput& input, const TFormatSettings& fs) {
    const int64_t ms = MilliSecondsBetween(input.Now, input.Request.ReqTimestamp);
    if (ms > kActiveMs) {
        view.TimeoutCounter = "Timeout: 0 [s]";
        ResetStatusImages(view, input.ListenerActive);
        return;
    }
    // 10 during the first 750 ms after a request, then one less per second down to 0 at 10 000 ms.
    view.TimeoutCounter = "Timeout: " + std::to_string((10750 - ms) / 1000) + " [s]";
    view.LocalIp = input.Request.LocalIp;
    view.ReqUrl = input.Request.LastReqUrl;
    view.ReqTimestamp = FormatStatusTimestamp(input.Request.ReqTimestamp, fs);
    view.ReqCount = RequestsText(input.Request.ReqCount);
    if (!input.ListenerActive) {
        view.PhonePicture = spListenerInactive;
    } else {
        view.PhonePicture = input.Request.ReqCount >= 1 ? spClientActive : spClientWaiting;
    }
    // Panel i shows slot i, whatever order the controllers were used in.
    for (std::size_t i = 0; i < view.Panels.size(); ++i) {
        TPanelView& panel = view.Panels[i];
        const auto& slot = input.LastAccessList[i];
        if (!slot) {
            panel.IP.clear();
            panel.Date.clear();
            panel.Req.clear();
            panel.Picture = spControllerIdle;
            continue;
        }
        try {
            panel.IP = "c" + std::to_string(slot->NAD) + ", " + slot->IP;
            panel.Date = FormatStatusTimestamp(slot->LastRequestTimestamp, fs);
            panel.Req = RequestsText(slot->RequestCount);
        } catch (const std::exception&) {
            // A text that cannot be built leaves the label with what it had; the picture still follows.
        }
        panel.Picture = slot->PingOK ? spControllerOk : spControllerFailed;
    }
}

bool TStatusTimer::Timer1Timer(const std::function<void()>& refresh) {
    if (fTimerRunning) return false;
    fTimerRunning = true;
    struct TClear {
        bool& running;
        ~TClear() { running = false; }
    } clear{fTimerRunning};
    refresh();
    return true;
}

}  // namespace zelto
