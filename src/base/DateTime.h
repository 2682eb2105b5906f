#pragma once
// Date-times as local times in days since 1899-12-30, the fraction being the time of day.
#include <cstdint>
#include <functional>
#include <string>

namespace zelto {

using TDateTime = double;

struct TDateTimeParts {
    int Year = 1899, Month = 12, Day = 30;
    int Hour = 0, Minute = 0, Second = 0, MilliSecond = 0;
};

// Builds a date-time from its parts (no range check beyond what the calendar arithmetic needs).
TDateTime EncodeDateTime(const TDateTimeParts& p);
// Splits a date-time into its parts, to the millisecond (rounded).
TDateTimeParts DecodeDateTime(TDateTime dt);

// The current local time. Tests may replace the clock; an empty function restores the real one.
TDateTime Now();
void SetNowFunction(std::function<TDateTime()> now);

// Milliseconds since an arbitrary start; never goes back. For time-outs and intervals.
int64_t TickCountMs();

// Local time of a Unix time in seconds (with fraction).
TDateTime UnixToDateTime(double unixSeconds);

// "yyyy-mm-dd hh:nn:ss.zzz"-style texts: fields in the given order with the given separators.
std::string TwoDigits(int v);
std::string ThreeDigits(int v);

}  // namespace zelto
