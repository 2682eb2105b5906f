#include "base/NumberText.h"

#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace zelto {

namespace {
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string_view SkipSpaces(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    return s.substr(i);
}
}  // namespace

bool TryParseWholeNumber(std::string_view text, int32_t& value) {
    std::string_view s = SkipSpaces(text);
    bool negative = false;
    if (!s.empty() && (s[0] == '+' || s[0] == '-')) {
        negative = s[0] == '-';
        s.remove_prefix(1);
    }
    bool hex = false;
    if (!s.empty() && (s[0] == '$' || s[0] == 'x' || s[0] == 'X')) {
        hex = true;
        s.remove_prefix(1);
    } else if (s.size() >= 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        hex = true;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    if (hex) {
        uint64_t pattern = 0;
        for (char c : s) {
            const int h = HexValue(c);
            if (h < 0) return false;
            pattern = pattern * 16 + static_cast<uint64_t>(h);
            if (pattern > 0xFFFFFFFFull) return false;
        }
        uint32_t bits = static_cast<uint32_t>(pattern);
        if (negative) bits = 0u - bits;
        value = static_cast<int32_t>(bits);
        return true;
    }
    int64_t magnitude = 0;
    for (char c : s) {
        if (!IsDigit(c)) return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > 2147483648LL) return false;
    }
    const int64_t v = negative ? -magnitude : magnitude;
    if (v > 2147483647LL) return false;
    value = static_cast<int32_t>(v);
    return true;
}

bool IsWholeNumberText(std::string_view text) {
    int32_t v = 0;
    return TryParseWholeNumber(text, v);
}

bool TryParseDecimalNumber(std::string_view text, double& value) {
    std::string_view s = SkipSpaces(text);
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const std::size_t start = i;
    int digits = 0;
    bool point = false;
    for (; i < s.size(); ++i) {
        if (IsDigit(s[i])) {
            ++digits;
        } else if (s[i] == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        int expDigits = 0;
        while (i < s.size() && IsDigit(s[i])) {
            ++i;
            ++expDigits;
        }
        if (expDigits == 0) return false;
    }
    if (i != s.size()) return false;

    // The sign was taken above: from_chars takes no leading "+". It does take "5." and ".5".
    const std::string body(s.substr(start));
    double v = 0.0;
    auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), v, std::chars_format::general);
    if (ec == std::errc::result_out_of_range) {
        // Too large gives an infinity, too small zero (or the nearest denormal): as strtod in the C locale.
        static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        v = strtod_l(body.c_str(), nullptr, cLocale);
    } else if (ec != std::errc() || ptr != body.data() + body.size()) {
        return false;
    }
    value = negative ? -v : v;
    return true;
}

bool IsDecimalNumberText(std::string_view text) {
    double v = 0;
    return TryParseDecimalNumber(text, v);
}

std::string FormatGeneral(double x, const TFormatSettings& fs) {
    if (std::isnan(x)) return "NAN";
    if (std::isinf(x)) return x < 0 ? "-INF" : "INF";
    if (x == 0.0) return "0";

    // 15 significant digits, rounded to nearest: d.dddddddddddddde±x
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14e", x);
    std::string s(buf);
    const bool negative = s[0] == '-';
    if (negative) s.erase(0, 1);
    const std::size_t e = s.find('e');
    const int exponent = std::atoi(s.c_str() + e + 1);
    std::string digits;
    for (std::size_t i = 0; i < e; ++i)
        if (IsDigit(s[i])) digits += s[i];
    while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

    std::string out = negative ? "-" : "";
    if (exponent >= -4 && exponent <= 14) {
        if (exponent < 0) {
            out += "0" + fs.DecimalSeparator + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
        } else {
            const std::size_t intLen = static_cast<std::size_t>(exponent) + 1;
            if (digits.size() <= intLen) {
                out += digits + std::string(intLen - digits.size(), '0');
            } else {
                out += digits.substr(0, intLen) + fs.DecimalSeparator + digits.substr(intLen);
            }
        }
    } else {
        out += digits.substr(0, 1);
        if (digits.size() > 1) out += fs.DecimalSeparator + digits.substr(1);
        out += "E" + std::to_string(exponent);
    }
    return out;
}

std::string FormatGeneral(double x) { return FormatGeneral(x, FormatSettings()); }

}  // namespace zelto
