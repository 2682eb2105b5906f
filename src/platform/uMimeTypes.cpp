#include "platform/uMimeTypes.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <sstream>

namespace zelto {

namespace {

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// The types a web page beside the program needs, whatever the system's table says or lacks.
const std::pair<const char*, const char*> kBuiltIn[] = {
    {"html", "text/html"},        {"htm", "text/html"},         {"css", "text/css"},
    {"js", "text/javascript"},    {"mjs", "text/javascript"},   {"json", "application/json"},
    {"xml", "text/xml"},          {"txt", "text/plain"},        {"png", "image/png"},
    {"jpg", "image/jpeg"},        {"jpeg", "image/jpeg"},       {"gif", "image/gif"},
    {"svg", "image/svg+xml"},     {"ico", "image/x-icon"},      {"webp", "image/webp"},
    {"woff", "font/woff"},        {"woff2", "font/woff2"},      {"wasm", "application/wasm"},
    {"pdf", "application/pdf"},   {"zip", "application/zip"},   {"map", "application/json"},
};

}  // namespace

TMimeTable::TMimeTable(const std::string& mimeTypesFile) {
    for (const auto& [ext, type] : kBuiltIn) fTypes.emplace(ext, type);
    std::ifstream in(mimeTypesFile);
    std::string line;
    while (std::getline(in, line)) {
        const auto hash = line.find('#');
        if (hash != std::string::npos) line.erase(hash);
        std::istringstream words(line);
        std::string type, ext;
        if (!(words >> type) || type.find('/') == std::string::npos) continue;
        while (words >> ext) fTypes.emplace(Lower(ext), type);  // built-in entries and earlier lines win
    }
}

std::string TMimeTable::ContentTypeOf(const std::string& path) const {
    const auto slash = path.find_last_of("/\\");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = name.rfind('.');
    if (dot != std::string::npos) {
        const auto it = fTypes.find(Lower(name.substr(dot + 1)));
        if (it != fTypes.end()) return it->second;
    }
    return "application/octet-stream";
}

std::string ContentTypeOfFile(const std::string& path) {
    static const TMimeTable table;
    return table.ContentTypeOf(path);
}

}  // namespace zelto
