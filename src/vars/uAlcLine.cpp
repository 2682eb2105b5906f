#include "vars/uAlcLine.h"

#include "base/NumberText.h"

namespace zelto {

namespace {
// Characters up to U+0020 (spaces, tabs, control characters) count as blanks. Bytes of UTF-8 sequences are
// above it, so they are compared unsigned.
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

std::string_view TrimBlanks(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

// Takes column `column` (1..9) off the front of `rest`: column 9 is the whole rest; the others end at the
// first space; column 8, the name, is the whole rest when no space follows it; any other column without a
// space after it is empty.
std::string_view TakeToken(std::string_view& rest, int column) {
    while (!rest.empty() && IsBlank(rest.front())) rest.remove_prefix(1);
    std::string_view token;
    const std::size_t space = rest.find(' ');
    if (column == 9) {
        token = rest;
    } else if (space != std::string_view::npos) {
        token = rest.substr(0, space);
    } else if (column == 8) {
        token = rest;
    }
    rest.remove_prefix(token.size());
    return TrimBlanks(token);
}

// Hexadecimal digits without prefix, read as a 32-bit pattern; -1 when unreadable (and FFFFFFFF reads as -1
// as well). Behind the "$" a sign or a second prefix is no hexadecimal digit, so those are unreadable.
int32_t ReadHexColumn(std::string_view token) {
    int32_t value = -1;
    return TryParseWholeNumber("$" + std::string(token), value) ? value : -1;
}

int32_t ReadWholeColumn(std::string_view token) {
    int32_t value = -1;
    return TryParseWholeNumber(token, value) ? value : -1;
}
}  // namespace

bool ParseAlcLine(std::string_view line, TAlcLine& out) {
    out = TAlcLine{};
    std::string_view rest = line;
    int32_t* const numbers[] = {&out.Address, &out.Flags, &out.Count, &out.Offset, &out.Size};
    for (int column = 1; column <= 9; ++column) {
        const std::string_view token = TakeToken(rest, column);
        if (column == 1 && (token == ";CPU" || token == ";Addr" || token.empty())) return true;
        if (column <= 5) {
            // Address and flags are hexadecimal; count, offset and size whole numbers. -1 is refused.
            int32_t& number = *numbers[column - 1];
            number = column <= 2 ? ReadHexColumn(token) : ReadWholeColumn(token);
            if (number == -1) return false;
        } else if (column == 6) {
            out.Scope = StrToVarScope(token);
            if (out.Scope == vsNone) return false;
        } else if (column == 7) {
            out.Typ = StrToVarTyp(token);
            if (out.Typ == vtNone) return false;
        } else if (column == 8) {
            out.Name = std::string(token);
            if (out.Name.empty()) return false;
        } else {
            out.Description = std::string(token);
        }
    }
    out.IsVariable = true;
    return true;
}

}  // namespace zelto
