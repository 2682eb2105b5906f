#pragma once
// A strict JSON reader for tests: it accepts only what JSON allows (no control characters in strings,
// valid UTF-8, no trailing text), so a test can check a writer's output by its meaning, not its bytes.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/TextEncoding.h"

namespace zelto::test {

struct TJson {
    enum TKind { Null, Bool, Number, String, Array, Object } Kind = Null;
    bool Boolean = false;
    double Num = 0;
    std::string NumText;  // the number as written
    std::string Str;      // decoded, UTF-8
    std::vector<TJson> Items;
    std::vector<std::pair<std::string, TJson>> Members;

    // The member of that name; throws when there is none.
    const TJson& operator[](const std::string& name) const {
        for (const auto& [k, v] : Members)
            if (k == name) return v;
        throw std::runtime_error("no member " + name);
    }
    bool Has(const std::string& name) const {
        for (const auto& m : Members)
            if (m.first == name) return true;
        return false;
    }
};

class TJsonReader {
public:
    // The document's value; throws std::runtime_error for anything that is not JSON.
    static TJson Parse(std::string_view text) {
        TJsonReader r(text);
        TJson v = r.Value();
        r.Blanks();
        if (r.fPos != text.size()) r.Fail("text after the value");
        return v;
    }

private:
    explicit TJsonReader(std::string_view t) : fText(t) {}
    [[noreturn]] void Fail(const std::string& what) const {
        throw std::runtime_error(what + " at " + std::to_string(fPos) + " in " + std::string(fText));
    }
    void Blanks() {
        while (fPos < fText.size() && (fText[fPos] == ' ' || fText[fPos] == '\t' || fText[fPos] == '\n' || fText[fPos] == '\r'))
            ++fPos;
    }
    bool Take(char c) {
        Blanks();
        if (fPos < fText.size() && fText[fPos] == c) {
            ++fPos;
            return true;
        }
        return false;
    }
    void Expect(char c) {
        if (!Take(c)) Fail(std::string("expected ") + c);
    }
    bool Word(std::string_view w) {
        if (fText.substr(fPos, w.size()) != w) return false;
        fPos += w.size();
        return true;
    }
    TJson Value() {
        Blanks();
        if (fPos >= fText.size()) Fail("no value");
        TJson v;
        const char c = fText[fPos];
        if (c == '{') {
            ++fPos;
            v.Kind = TJson::Object;
            if (Take('}')) return v;
            do {
                Blanks();
                std::string key = StringValue();
                Expect(':');
                v.Members.emplace_back(std::move(key), Value());
            } while (Take(','));
            Expect('}');
        } else if (c == '[') {
            ++fPos;
            v.Kind = TJson::Array;
            if (Take(']')) return v;
            do v.Items.push_back(Value());
            while (Take(','));
            Expect(']');
        } else if (c == '"') {
            v.Kind = TJson::String;
            v.Str = StringValue();
        } else if (Word("null")) {
        } else if (Word("true") || Word("false")) {
            v.Kind = TJson::Bool;
            v.Boolean = fText[fPos - 1] == 'e' && fText[fPos - 2] == 'u';
        } else {
            v.Kind = TJson::Number;
            v.NumText = NumberText();
            v.Num = std::stod(v.NumText);
        }
        return v;
    }
    std::string NumberText() {
        const std::size_t start = fPos;
        auto digits = [&] {
            const std::size_t d = fPos;
            while (fPos < fText.size() && fText[fPos] >= '0' && fText[fPos] <= '9') ++fPos;
            if (fPos == d) Fail("digits expected");
        };
        Take('-');
        if (fPos < fText.size() && fText[fPos] == '0') ++fPos; else digits();
        if (fPos < fText.size() && fText[fPos] == '.') { ++fPos; digits(); }
        if (fPos < fText.size() && (fText[fPos] == 'e' || fText[fPos] == 'E')) {
            ++fPos;
            if (fPos < fText.size() && (fText[fPos] == '+' || fText[fPos] == '-')) ++fPos;
            digits();
        }
        return std::string(fText.substr(start, fPos - start));
    }
    std::string StringValue() {
        if (fPos >= fText.size() || fText[fPos] != '"') Fail("string expected");
        ++fPos;
        std::string out;
        while (true) {
            if (fPos >= fText.size()) Fail("string not closed");
            const unsigned char c = static_cast<unsigned char>(fText[fPos]);
            if (c == '"') { ++fPos; return out; }
            if (c < 0x20) Fail("control character in a string");
            if (c == '\\') {
                if (++fPos >= fText.size()) Fail("escape cut");
                const char e = fText[fPos++];
                switch (e) {
                    case '"': out += '"'; break;
                    case '\\': out += '\\'; break;
                    case '/': out += '/'; break;
                    case 'b': out += '\b'; break;
                    case 'f': out += '\f'; break;
                    case 'n': out += '\n'; break;
                    case 'r': out += '\r'; break;
                    case 't': out += '\t'; break;
                    case 'u': {
                        if (fPos + 4 > fText.size()) Fail("\\u cut");
                        const unsigned long u = std::stoul(std::string(fText.substr(fPos, 4)), nullptr, 16);
                        fPos += 4;
                        AppendUtf8(out, static_cast<char32_t>(u));
                        break;
                    }
                    default: Fail("unknown escape");
                }
                continue;
            }
            const std::size_t start = fPos;
            char32_t cp = 0;
            if (c >= 0x80 && !NextUtf8CodePoint(fText, fPos, cp)) Fail("malformed UTF-8");
            if (c < 0x80) ++fPos;
            out.append(fText.substr(start, fPos - start));
        }
    }

    std::string_view fText;
    std::size_t fPos = 0;
};

}  // namespace zelto::test
