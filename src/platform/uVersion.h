#pragma once
// The program's version text, cut from the file version of this build ("1.0.3.0").
#include <string>
#include <string_view>

#include "Version.h"

namespace zelto {

// The file version cut to its first Parts numbers: "1" with 1, "1.0.3" with 3, the whole text with 4 or
// more, empty with 0 or less or when the file version is empty.
std::string GetVersionText(int Parts, std::string_view fileVersion = kFileVersion);

}  // namespace zelto
