#pragma once
// Splitting a text into lines the way a text-file reader does.
#include <string>
#include <string_view>
#include <vector>

namespace zelto {

// The lines of `text`, split at CR LF, LF or CR. A line break at the very end does not start another line,
// so "a\r\nb\r\n" gives two lines and an empty text none.
std::vector<std::string> SplitLines(std::string_view text);

}  // namespace zelto
