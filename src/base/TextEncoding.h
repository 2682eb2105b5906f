#pragma once
// Conversions between the program's UTF-8 text and the 8-bit texts it meets at its edges: Windows-1252 (ALC
// text, zip entry names, files without a byte-order mark) and Latin-1 (byte streams whose bytes are taken as
// the characters of the same code).
#include <cstddef>
#include <string>
#include <string_view>

namespace zelto {

// Windows-1252 bytes to UTF-8. The five codes that Windows-1252 leaves unassigned (81h, 8Dh, 8Fh, 90h, 9Dh)
// become the control characters of the same code, as the Windows conversion does.
std::string Cp1252ToUtf8(std::string_view bytes);
// UTF-8 to Windows-1252; a character without a Windows-1252 code, and every byte of a malformed sequence,
// becomes `replacement`.
std::string Utf8ToCp1252(std::string_view text, char replacement = '?');

// Each byte becomes the character U+0000..U+00FF of the same code.
std::string Latin1ToUtf8(std::string_view bytes);
// Each character becomes the byte of its code; a character above U+00FF, and every byte of a malformed
// sequence, becomes `replacement`.
std::string Utf8ToLatin1(std::string_view text, char replacement = '?');

// How the bytes of a text file are read where a UTF-16 byte-order mark does not decide.
enum class TTextFileBytes {
    // A UTF-8 mark selects UTF-8 (malformed bytes become U+FFFD), no mark Windows-1252: files that come from
    // Windows programs, such as the ALC.
    Cp1252UnlessMarked,
    // UTF-8 when the bytes are valid UTF-8, with or without a mark, otherwise Windows-1252: files that a
    // person may have written on any system, such as the help text.
    Utf8IfValid,
};

// The text of a text file: a UTF-16 byte-order mark (LE or BE) selects UTF-16, otherwise `bytes` decides
// between UTF-8 and Windows-1252. The mark itself is dropped.
std::string TextFileToUtf8(std::string_view bytes, TTextFileBytes rule = TTextFileBytes::Cp1252UnlessMarked);

// Whether the text is well-formed UTF-8 (no overlong forms, surrogates or values beyond U+10FFFF).
bool IsValidUtf8(std::string_view text);

// Reads the character at `pos` and moves `pos` past it. A malformed or cut sequence yields false and moves
// past one byte. `pos` must lie inside the text.
bool NextUtf8CodePoint(std::string_view text, std::size_t& pos, char32_t& codePoint);
void AppendUtf8(std::string& out, char32_t codePoint);

// The text with ASCII letters in lower case (other bytes unchanged): for names compared without regard to
// case (host names, origins, media types).
std::string LowerAscii(std::string_view text);

}  // namespace zelto
