#include "plc/uProgramDate.h"

#include <clocale>
#include <ctime>
#include <locale.h>

#include "zip/uDosDateTime.h"

namespace zelto {

namespace {

// The user's time locale, read once; the "C" one when the environment names none that exists.
locale_t UserTimeLocale() {
    static const locale_t loc = [] {
        locale_t l = ::newlocale(LC_TIME_MASK, "", nullptr);
        return l != nullptr ? l : ::newlocale(LC_TIME_MASK, "C", nullptr);
    }();
    return loc;
}

std::string Format(const char* pattern, const std::tm& tm) {
    char buf[128];
    const std::size_t n = ::strftime_l(buf, sizeof buf, pattern, &tm, UserTimeLocale());
    return std::string(buf, n);
}

}  // namespace

std::string ProgramDateText(int32_t TransferDate) {
    if (TransferDate <= 0) return {};
    const auto dos = static_cast<uint32_t>(TransferDate);
    if (!DosDateTimeToDateTime(dos)) return {};
    std::tm tm{};
    tm.tm_year = static_cast<int>((dos >> 25) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((dos >> 21) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>((dos >> 16) & 0x1F);
    tm.tm_hour = static_cast<int>((dos >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((dos >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>(dos & 0x1F) * 2;
    tm.tm_isdst = -1;
    std::string text = Format("%x", tm);
    if (tm.tm_hour != 0 || tm.tm_min != 0 || tm.tm_sec != 0) text += " " + Format("%X", tm);
    return text;
}

}  // namespace zelto
