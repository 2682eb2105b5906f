#include "platform/uVersion.h"

namespace zelto {

std::string GetVersionText(int Parts, std::string_view fileVersion) {
    if (Parts <= 0 || fileVersion.empty()) return "";
    if (Parts >= 4) return std::string(fileVersion);
    std::string result;
    std::size_t start = 0;
    for (int i = 0; i < Parts; ++i) {
        const std::size_t dot = fileVersion.find('.', start);
        if (i > 0) result += ".";
        result += fileVersion.substr(start, dot == std::string_view::npos ? std::string_view::npos : dot - start);
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    return result;
}

}  // namespace zelto
