#include "base/DateTime.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <mutex>

namespace zelto {

namespace {
// Days from 1970-01-01 to the civil date (proleptic Gregorian), after H. Hinnant's algorithm.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

// 1899-12-30 is 25569 days before 1970-01-01.
constexpr int64_t kUnixEpochDays = 25569;

std::mutex gNowMutex;
std::function<TDateTime()> gNow;
}  // namespace

TDateTime EncodeDateTime(const TDateTimeParts& p) {
    const int64_t days = DaysFromCivil(p.Year, static_cast<unsigned>(p.Month), static_cast<unsigned>(p.Day)) + kUnixEpochDays;
    const double ms = ((p.Hour * 60.0 + p.Minute) * 60.0 + p.Second) * 1000.0 + p.MilliSecond;
    const double frac = ms / 86400000.0;
    // Before the epoch the fraction still counts forward within the day (the day's sign carries the date).
    return days >= 0 ? static_cast<double>(days) + frac : static_cast<double>(days) - frac;
}

TDateTimeParts DecodeDateTime(TDateTime dt) {
    TDateTimeParts p;
    double whole = std::trunc(dt);
    double frac = std::fabs(dt - whole);
    int64_t ms = std::llround(frac * 86400000.0);
    int64_t days = static_cast<int64_t>(whole);
    if (ms >= 86400000) {
        ms -= 86400000;
        days += dt >= 0 ? 1 : -1;
    }
    CivilFromDays(days - kUnixEpochDays, p.Year, p.Month, p.Day);
    p.Hour = static_cast<int>(ms / 3600000);
    p.Minute = static_cast<int>(ms / 60000 % 60);
    p.Second = static_cast<int>(ms / 1000 % 60);
    p.MilliSecond = static_cast<int>(ms % 1000);
    return p;
}

TDateTime UnixToDateTime(double unixSeconds) {
    const auto whole = static_cast<time_t>(std::floor(unixSeconds));
    const int ms = static_cast<int>(std::lround((unixSeconds - std::floor(unixSeconds)) * 1000.0));
    std::tm tm{};
    localtime_r(&whole, &tm);
    TDateTimeParts p{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0};
    return EncodeDateTime(p) + ms / 86400000.0;
}

TDateTime Now() {
    {
        std::lock_guard<std::mutex> lock(gNowMutex);
        if (gNow) return gNow();
    }
    const auto now = std::chrono::system_clock::now();
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    const time_t secs = static_cast<time_t>(us / 1000000);
    const int ms = static_cast<int>(us / 1000 % 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    TDateTimeParts p{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, ms};
    return EncodeDateTime(p);
}

void SetNowFunction(std::function<TDateTime()> now) {
    std::lock_guard<std::mutex> lock(gNowMutex);
    gNow = std::move(now);
}

int64_t TickCountMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string TwoDigits(int v) {
    std::string s = std::to_string(v);
    return s.size() < 2 ? "0" + s : s;
}

std::string ThreeDigits(int v) {
    std::string s = std::to_string(v);
    while (s.size() < 3) s.insert(s.begin(), '0');
    return s;
}

}  // namespace zelto
