#include "base/FormatSettings.h"

#include <langinfo.h>
#include <locale.h>

#include <mutex>
#include <optional>

namespace zelto {

namespace {
std::mutex gMutex;
std::optional<TFormatSettings> gSettings;

// The first separator between the hour and minute fields of a strftime time pattern ("%H:%M:%S" gives ":").
std::string TimeSeparatorOf(const std::string& pattern) {
    for (std::size_t i = 0; i + 1 < pattern.size(); ++i) {
        if (pattern[i] == '%' && (pattern[i + 1] == 'H' || pattern[i + 1] == 'I' || pattern[i + 1] == 'k' || pattern[i + 1] == 'l')) {
            std::string sep;
            for (std::size_t j = i + 2; j < pattern.size() && pattern[j] != '%'; ++j) sep += pattern[j];
            if (!sep.empty() && sep.size() <= 4) return sep;
            break;
        }
    }
    return ":";
}
}  // namespace

TFormatSettings ReadLocaleFormatSettings() {
    TFormatSettings fs;
    locale_t loc = newlocale(LC_NUMERIC_MASK | LC_TIME_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return fs;
    const char* radix = nl_langinfo_l(RADIXCHAR, loc);
    if (radix != nullptr && *radix != '\0') fs.DecimalSeparator = radix;
    const char* tfmt = nl_langinfo_l(T_FMT, loc);
    if (tfmt != nullptr) fs.TimeSeparator = TimeSeparatorOf(tfmt);
    freelocale(loc);
    return fs;
}

TFormatSettings FormatSettings() {
    std::lock_guard<std::mutex> lock(gMutex);
    if (!gSettings) gSettings = ReadLocaleFormatSettings();
    return *gSettings;
}

void SetFormatSettings(const TFormatSettings& fs) {
    std::lock_guard<std::mutex> lock(gMutex);
    gSettings = fs;
}

}  // namespace zelto
