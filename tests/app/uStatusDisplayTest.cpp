#include "app/uStatusDisplay.h"

#include <atomic>
#include <chrono>
#include <cmath>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "web/SimulatedControllers.h"
#include "web/uZeltoIntf.h"

using namespace zelto;

namespace {

// 2026-03-14 09:26:53.589 and times a whole number of milliseconds later.
const TDateTime kRequestAt = EncodeDateTime({2026, 3, 14, 9, 26, 53, 589});
TDateTime After(int64_t ms) { return kRequestAt + static_cast<double>(ms) / 86400000.0; }

TControllerStatus Proxy(int nad, const std::string& ip, bool pingOk, int count) {
    return TControllerStatus{nad, ip, pingOk, EncodeDateTime({2026, 3, 14, 9, 26, 52, 7}), count};
}

TStatusInput Active(int64_t msSinceRequest, int32_t reqCount = 3, bool listener = true) {
    TStatusInput in;
    in.Now = After(msSinceRequest);
    in.Request = TRequestStatus{reqCount, kRequestAt, "192.168.1.23", "192.168.1.5"};
    in.ListenerActive = listener;
    in.LastAccessList = {Proxy(10, "192.168.1.50", true, 12), std::nullopt, Proxy(7, "", false, 1)};
    return in;
}

const TFormatSettings kColon{".", ":"};

}  // namespace

TEST(StatusDisplay, CountdownAndStateByAgeOfTheLatestRequest) {
    const struct {
        int64_t ms;
        const char* counter;
        bool active;
    } cases[] = {
        {0, "Timeout: 10 [s]", true},      {749, "Timeout: 10 [s]", true},   {750, "Timeout: 10 [s]", true},
        {751, "Timeout: 9 [s]", true},     {1751, "Timeout: 8 [s]", true},   {9750, "Timeout: 1 [s]", true},
        {9751, "Timeout: 0 [s]", true},
        {9999, "Timeout: 0 [s]", true},    {10000, "Timeout: 0 [s]", true},  {10001, "Timeout: 0 [s]", false},
        {-500, "Timeout: 10 [s]", true},   {-10001, "Timeout: 0 [s]", false}, {86400000, "Timeout: 0 [s]", false},
    };
    for (const auto& c : cases) {
        TStatusView view;
        UpdateStatus(view, Active(c.ms), kColon);
        EXPECT_EQ(view.TimeoutCounter, c.counter) << c.ms;
        // Active: the texts and the pictures by ping result; idle: design texts and idle pictures.
        EXPECT_EQ(view.ReqCount, c.active ? "3 requests" : "No requests") << c.ms;
        EXPECT_EQ(view.PhonePicture, c.active ? spClientActive : spClientWaiting) << c.ms;
        EXPECT_EQ(view.Panels[0].Picture, c.active ? spControllerOk : spControllerIdle) << c.ms;
        EXPECT_EQ(view.Panels[2].Picture, c.active ? spControllerFailed : spControllerIdle) << c.ms;
    }
}

TEST(StatusDisplay, ActiveRefreshSetsEveryText) {
    TStatusView view;
    UpdateStatus(view, Active(1200), kColon);
    EXPECT_EQ(view.LocalIp, "192.168.1.5");
    EXPECT_EQ(view.ReqUrl, "192.168.1.23");
    EXPECT_EQ(view.ReqTimestamp, "2026-03-14 09:26:53.589");
    EXPECT_EQ(view.ReqCount, "3 requests");
    // Panel i shows slot i; a controller that never answered has no IP after the NAD.
    EXPECT_EQ(view.Panels[0].IP, "c10, 192.168.1.50");
    EXPECT_EQ(view.Panels[0].Date, "2026-03-14 09:26:52.007");
    EXPECT_EQ(view.Panels[0].Req, "12 requests");
    EXPECT_EQ(view.Panels[1].IP, "");
    EXPECT_EQ(view.Panels[1].Date, "");
    EXPECT_EQ(view.Panels[1].Req, "");
    EXPECT_EQ(view.Panels[1].Picture, spControllerIdle);
    EXPECT_EQ(view.Panels[2].IP, "c7, ");
    EXPECT_EQ(view.Panels[2].Req, "1 requests");  // no singular form
}

TEST(StatusDisplay, ClientPictureByListenerAndCount) {
    const struct {
        bool listener;
        int32_t count;
        int64_t ms;
        int picture;
    } cases[] = {
        {true, 0, 100, spClientWaiting},      {true, 1, 100, spClientActive},
        {true, 5, 20000, spClientWaiting},    {false, 5, 100, spListenerInactive},
        {false, 0, 20000, spListenerInactive}, {false, 0, 100, spListenerInactive},
    };
    for (const auto& c : cases) {
        TStatusView view;
        UpdateStatus(view, Active(c.ms, c.count, c.listener), kColon);
        EXPECT_EQ(view.PhonePicture, c.picture) << c.listener << " " << c.count << " " << c.ms;
    }
}

TEST(StatusDisplay, IdleKeepsTheTextsOfTheLastActiveRefresh) {
    TStatusView view;
    UpdateStatus(view, Active(100), kColon);
    const TStatusView active = view;

    // Slot 0 empties and the request count grows, but the display is idle: only counter and pictures change.
    TStatusInput later = Active(10001, 9);
    later.LastAccessList[0].reset();
    later.Request.LastReqUrl = "10.0.0.9";
    UpdateStatus(view, later, kColon);
    EXPECT_EQ(view.ReqUrl, active.ReqUrl);
    EXPECT_EQ(view.ReqCount, active.ReqCount);
    EXPECT_EQ(view.LocalIp, active.LocalIp);
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(view.Panels[i].IP, active.Panels[i].IP) << i;
        EXPECT_EQ(view.Panels[i].Req, active.Panels[i].Req) << i;
        EXPECT_EQ(view.Panels[i].Picture, spControllerIdle) << i;
    }

    // A new request: the emptied slot clears its labels, the pictures follow the ping results again.
    later.Request.ReqTimestamp = later.Now;
    UpdateStatus(view, later, kColon);
    EXPECT_EQ(view.ReqUrl, "10.0.0.9");
    EXPECT_EQ(view.ReqCount, "9 requests");
    EXPECT_EQ(view.Panels[0].IP, "");
    EXPECT_EQ(view.Panels[0].Picture, spControllerIdle);
    EXPECT_EQ(view.Panels[2].Picture, spControllerFailed);
}

TEST(StatusDisplay, TimesUseTheLocaleTimeSeparator) {
    TStatusView view;
    UpdateStatus(view, Active(0), TFormatSettings{",", "."});
    EXPECT_EQ(view.ReqTimestamp, "2026-03-14 09.26.53.589");
    EXPECT_EQ(view.Panels[0].Date, "2026-03-14 09.26.52.007");
    EXPECT_EQ(FormatStatusTimestamp(EncodeDateTime({987, 1, 2, 23, 59, 59, 999}), kColon), "0987-01-02 23:59:59.999");
    EXPECT_EQ(FormatStatusTimestamp(0, kColon), "1899-12-30 00:00:00.000");
}

TEST(StatusDisplay, APanelTextThatCannotBeBuiltKeepsWhatWasSet) {
    TStatusView view;
    UpdateStatus(view, Active(0), kColon);
    TStatusInput in = Active(0);
    in.LastAccessList[0]->IP = "192.168.1.51";
    in.LastAccessList[0]->RequestCount = 13;
    for (TDateTime bad : {std::nan(""), 1.0e12, -1.0e12}) {
        in.LastAccessList[0]->LastRequestTimestamp = bad;
        UpdateStatus(view, in, kColon);
        EXPECT_EQ(view.Panels[0].IP, "c10, 192.168.1.51");         // set before the failing text
        EXPECT_EQ(view.Panels[0].Date, "2026-03-14 09:26:52.007");  // kept
        EXPECT_EQ(view.Panels[0].Req, "12 requests");               // after it: kept
        EXPECT_EQ(view.Panels[0].Picture, spControllerOk);          // the picture still follows
    }
    EXPECT_THROW(FormatStatusTimestamp(std::nan(""), kColon), std::out_of_range);
}

TEST(StatusDisplay, ResetStatusImagesShowsTheIdlePictures) {
    TStatusView view;
    UpdateStatus(view, Active(0), kColon);
    ResetStatusImages(view, true);
    EXPECT_EQ(view.PhonePicture, spClientWaiting);
    for (const auto& p : view.Panels) EXPECT_EQ(p.Picture, spControllerIdle);
    ResetStatusImages(view, false);
    EXPECT_EQ(view.PhonePicture, spListenerInactive);
    EXPECT_EQ(view.Panels[0].IP, "c10, 192.168.1.50");  // texts untouched
}

TEST(StatusDisplay, MilliSecondsBetweenIsWholeAndPositive) {
    EXPECT_EQ(MilliSecondsBetween(After(10000), kRequestAt), 10000);
    EXPECT_EQ(MilliSecondsBetween(kRequestAt, After(10001)), 10001);
    EXPECT_EQ(MilliSecondsBetween(kRequestAt, kRequestAt), 0);
    EXPECT_EQ(MilliSecondsBetween(kRequestAt, std::nan("")), INT64_MAX);
}

TEST(StatusTimer, ARefreshDoesNotStartInsideAnotherAndTheGuardAlwaysClears) {
    TStatusTimer timer;
    int runs = 0;
    bool nestedRan = true;
    EXPECT_TRUE(timer.Timer1Timer([&] {
        ++runs;
        EXPECT_TRUE(timer.Running());
        nestedRan = timer.Timer1Timer([&] { ++runs; });  // a tick delivered while refreshing
    }));
    EXPECT_FALSE(nestedRan);
    EXPECT_EQ(runs, 1);
    EXPECT_FALSE(timer.Running());

    EXPECT_THROW(timer.Timer1Timer([] { throw std::runtime_error("refresh failed"); }), std::runtime_error);
    EXPECT_FALSE(timer.Running());
    EXPECT_TRUE(timer.Timer1Timer([&] { ++runs; }));
    EXPECT_EQ(runs, 2);
}

// A request naming an answering and a silent controller: the answering one's panel turns green on a tick
// while the silent one is still asked, and the display reads copies all along.
TEST(StatusDisplay, PanelFollowsThePingWhileTheRequestRuns) {
    zelto::test::TSimulatedControllers sim({10});
    TZeltoServerHost host;
    host.SettingsRoot = std::filesystem::temp_directory_path() / "zelto-no-settings";
    TZeltoServer server(host);
    server.Controllers().AddProxy(sim.Proxy(10));
    server.Controllers().AddProxy(sim.Proxy(13, 300));  // silent: 900 ms
    std::atomic<bool> done{false};
    std::thread request([&] {
        server.ReadVars("c10.w&c13.w");
        done = true;
    });
    TStatusView view;
    bool greenWhileAsked = false;
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
         !done && std::chrono::steady_clock::now() < until;) {
        TStatusInput in;
        in.Now = Now();
        in.Request = TRequestStatus{1, in.Now, "127.0.0.1", "127.0.0.1"};
        in.LastAccessList = server.LastAccessSnapshot();
        UpdateStatus(view, in, kColon);
        const bool asked = !done;
        if (view.Panels[0].Picture == spControllerOk && asked) {
            greenWhileAsked = true;
            EXPECT_EQ(view.Panels[0].IP, "c10, 127.0.0.1");
            EXPECT_EQ(view.Panels[1].Picture, spControllerFailed);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    request.join();
    EXPECT_TRUE(greenWhileAsked);
    EXPECT_EQ(server.Controllers().RecordCount(), 2);
}
