#pragma once
// The user's regional settings that the program shows numbers and times with. Read once from the
// environment's locale (LC_NUMERIC, LC_TIME); tests replace them.
#include <string>

namespace zelto {

struct TFormatSettings {
    std::string DecimalSeparator = ".";
    std::string TimeSeparator = ":";
};

// The settings in force (read from the locale on first use).
TFormatSettings FormatSettings();
// Replaces the settings in force (tests, or a locale change the program chooses to follow).
void SetFormatSettings(const TFormatSettings& fs);
// Reads the settings of the user's locale as the environment names it.
TFormatSettings ReadLocaleFormatSettings();

}  // namespace zelto
