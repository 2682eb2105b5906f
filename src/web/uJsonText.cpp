#include "web/uJsonText.h"

#include "base/NumberText.h"
#include "base/TextEncoding.h"

namespace zelto {

namespace {

void AppendEscapedAscii(std::string& out, unsigned char c) {
    static constexpr char kHex[] = "0123456789abcdef";
    switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                out += "\\u00";
                out += kHex[c >> 4];
                out += kHex[c & 0xF];
            } else {
                out += static_cast<char>(c);
            }
    }
}

// A number with the digits of the XML answer, "." as the point; a JSON string for INF, -INF and NAN.
std::string JsonNumber(double x) {
    const std::string text = FormatGeneral(x, TFormatSettings{".", ":"});
    const char last = text.back();
    if (last < '0' || last > '9') return JsonString(text);
    return text;
}

}  // namespace

std::string JsonVarValue(const TVarResult& r) {
    switch (r.Kind) {
        case TValueKind::Number: return JsonNumber(r.Number);
        case TValueKind::Text: return JsonString(r.Text);
        case TValueKind::NumberList: {
            std::string out = "[";
            for (const std::string& item : r.Items) {
                if (out.size() > 1) out += ',';
                int32_t n = 0;
                out += TryParseWholeNumber(item, n) ? std::to_string(n) : JsonString(item);
            }
            return out + "]";
        }
        case TValueKind::Missing: break;
    }
    return "null";
}

std::string VarErrorOf(const TVarResult& Result) { return Result.Error.empty() ? kUnknownVariable : Result.Error; }

std::string JsonString(std::string_view Text) {
    std::string out;
    out.reserve(Text.size() + 2);
    out += '"';
    std::size_t pos = 0;
    while (pos < Text.size()) {
        const unsigned char c = static_cast<unsigned char>(Text[pos]);
        if (c < 0x80) {
            AppendEscapedAscii(out, c);
            ++pos;
            continue;
        }
        const std::size_t start = pos;
        char32_t cp = 0;
        if (NextUtf8CodePoint(Text, pos, cp)) {
            out.append(Text.substr(start, pos - start));
        } else {
            pos = start + 1;
            AppendUtf8(out, c);
        }
    }
    out += '"';
    return out;
}

std::string JsonVarEntry(const TVarResult& Result) {
    std::string out = "{\"name\":" + JsonString(Result.Name) + ",\"value\":" + JsonVarValue(Result) +
                      ",\"description\":" + JsonString(Result.Description);
    if (Result.Kind == TValueKind::Missing)
        out += ",\"error\":" + JsonString(VarErrorOf(Result));
    return out + "}";
}

std::string JsonVarsDocumentOf(const std::vector<std::string>& Entries) {
    std::string out = "{\"vars\":[";
    for (std::size_t i = 0; i < Entries.size(); ++i) {
        if (i > 0) out += ',';
        out += Entries[i];
    }
    return out + "]}";
}

std::string JsonVarsDocument(const TVarResults& Results) {
    std::vector<std::string> entries;
    entries.reserve(Results.size());
    for (const TVarResult& r : Results) entries.push_back(JsonVarEntry(r));
    return JsonVarsDocumentOf(entries);
}

}  // namespace zelto
