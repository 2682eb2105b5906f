#pragma once
// What the main window shows, worked out without any widgets: the texts of its labels and the numbers of
// its status pictures. The window copies this view into its labels and pictures on every timer tick.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/fMain.h"
#include "app/uRequestService.h"
#include "base/DateTime.h"
#include "base/FormatSettings.h"

namespace zelto {

// Numbers of the six status pictures.
enum TStatusPicture : int {
    spControllerIdle = 0,    // empty slot, or no request for more than 10 s
    spControllerOk = 1,      // the controller answered its last ping
    spControllerFailed = 2,  // the controller did not answer its last ping
    spClientWaiting = 3,     // listener active, no request yet (and idle)
    spClientActive = 4,      // listener active, requests received
    spListenerInactive = 5,  // the HTTP listener is not active
};
inline constexpr int kStatusPictureCount = 6;

// A request counts as recent for this long; afterwards the display is idle.
inline constexpr int64_t kActiveMs = 10000;

// One controller panel: lblIP, lblDate, lblReq and the picture of img.
struct TPanelView {
    std::string IP = "-";
    std::string Date = "-";
    std::string Req = "No requests";
    int Picture = spControllerIdle;
};

// The labels and pictures of the main window, starting with their design-time texts.
struct TStatusView {
    std::string ReqUrl = "-";
    std::string ReqTimestamp = "-";
    std::string ReqCount = "No requests";
    std::string LocalIp;
    std::string TimeoutCounter = "Timeout: ";
    int PhonePicture = spClientWaiting;
    std::array<TPanelView, 3> Panels;
};

// Everything one refresh reads.
struct TStatusInput {
    TDateTime Now = 0;
    TRequestStatus Request;
    bool ListenerActive = false;
    std::array<std::optional<TControllerStatus>, 3> LastAccessList;
};

// "yyyy-mm-dd hh:nn:ss.zzz" with the locale's time separator between the time fields. Throws
// std::out_of_range for a date-time outside the years 1 to 9999.
std::string FormatStatusTimestamp(TDateTime dt, const TFormatSettings& fs);

// Whole milliseconds between two date-times, always positive.
int64_t MilliSecondsBetween(TDateTime a, TDateTime b);

// The idle pictures: every controller picture 0, the client picture 3, or 5 without a listener.
void ResetStatusImages(TStatusView& view, bool listenerActive);

// One refresh of the view. Idle (the latest request more than 10 000 ms ago): only the countdown and the
// pictures change. Active: every text and picture is set from the input.
void UpdateStatus(TStatusView& view, const TStatusInput& input, const TFormatSettings& fs = FormatSettings());

// The 250 ms timer's re-entry guard: a tick that arrives while a refresh runs (the toolkit may process
// events inside one) returns at once; the guard is cleared on every path out of a refresh.
class TStatusTimer {
public:
    // Runs refresh unless a refresh is running; returns whether it ran. Exceptions pass through.
    bool Timer1Timer(const std::function<void()>& refresh);
    bool Running() const { return fTimerRunning; }

private:
    bool fTimerRunning = false;
};

}  // namespace zelto
