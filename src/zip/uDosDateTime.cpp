#include "zip/uDosDateTime.h"

namespace zelto {

namespace {
bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}
}  // namespace

uint32_t DateTimeToDosDateTime(TDateTime value) {
    // Range test on the number first: it also turns away NaN and values too large to split into parts.
    static const TDateTime kFirst = EncodeDateTime({1980, 1, 1, 0, 0, 0, 0});
    static const TDateTime kPastLast = EncodeDateTime({2108, 1, 1, 0, 0, 0, 0});
    if (!(value >= kFirst && value < kPastLast)) return 0;
    const TDateTimeParts p = DecodeDateTime(value);
    if (p.Year < 1980 || p.Year > 2107) return 0;  // rounding to the millisecond may reach 2108
    const auto time = static_cast<uint32_t>(p.Second / 2 + p.Minute * 32 + p.Hour * 2048);
    const auto date = static_cast<uint32_t>(p.Day + p.Month * 32 + (p.Year - 1980) * 512);
    return (date << 16) | time;
}

std::optional<TDateTime> DosDateTimeToDateTime(uint32_t dos) {
    const uint32_t time = dos & 0xFFFF;
    const uint32_t date = dos >> 16;
    TDateTimeParts p;
    p.Year = static_cast<int>(date >> 9) + 1980;
    p.Month = static_cast<int>((date >> 5) & 15);
    p.Day = static_cast<int>(date & 31);
    p.Hour = static_cast<int>(time >> 11);
    p.Minute = static_cast<int>((time >> 5) & 63);
    p.Second = static_cast<int>(time & 31) * 2;
    if (p.Month < 1 || p.Month > 12 || p.Day < 1 || p.Day > DaysInMonth(p.Year, p.Month)) return std::nullopt;
    if (p.Hour > 23 || p.Minute > 59 || p.Second > 59) return std::nullopt;
    return EncodeDateTime(p);
}

}  // namespace zelto
