#include "web/uXmlText.h"

#include "base/TextEncoding.h"

namespace zelto {

namespace {

constexpr unsigned kReplacementCharacter = 0xFFFD;

void AppendCodeUnit(std::string& out, unsigned unit) {
    out += "&#";
    out += std::to_string(unit);
    out += ';';
}

}  // namespace

std::string EscapeXml(std::string_view Text) {
    std::string out;
    out.reserve(Text.size());
    std::size_t pos = 0;
    while (pos < Text.size()) {
        const unsigned char c = static_cast<unsigned char>(Text[pos]);
        if (c < 0x80) {
            ++pos;
            switch (c) {
                case '<': out += "&lt;"; break;
                case '>': out += "&gt;"; break;
                case '&': out += "&amp;"; break;
                case '"': out += "&quot;"; break;
                case '\t':
                case '\n':
                case '\r': out += static_cast<char>(c); break;
                default:
                    // XML 1.0 has no place for the other controls, not even as a reference.
                    if (c < 0x20) AppendCodeUnit(out, kReplacementCharacter);
                    else out += static_cast<char>(c);
            }
            continue;
        }
        const std::size_t start = pos;
        char32_t cp = 0;
        if (!NextUtf8CodePoint(Text, pos, cp)) {
            pos = start + 1;
            AppendCodeUnit(out, c);
        } else if (cp >= 0x10000) {
            const char32_t v = cp - 0x10000;
            AppendCodeUnit(out, static_cast<unsigned>(0xD800 + (v >> 10)));
            AppendCodeUnit(out, static_cast<unsigned>(0xDC00 + (v & 0x3FF)));
        } else {
            AppendCodeUnit(out, static_cast<unsigned>(cp));
        }
    }
    return out;
}

std::string ListToXmlItems(const std::vector<std::string>& Items) {
    std::string out;
    for (const auto& s : Items) {
        out += "      <item>";
        out += s;
        out += "</item>\r\n";
    }
    return out;
}

}  // namespace zelto
