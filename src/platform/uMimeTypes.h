#pragma once
// Content types by file extension: a small built-in table of web types, completed by the system's table
// (/etc/mime.types); "application/octet-stream" for anything else.
#include <map>
#include <string>

namespace zelto {

class TMimeTable {
public:
    // The built-in entries plus those of the mime.types file at path (a missing file adds nothing).
    explicit TMimeTable(const std::string& mimeTypesFile = "/etc/mime.types");
    // The content type of a file name's extension (after the last "." of its last component), compared
    // without case.
    std::string ContentTypeOf(const std::string& path) const;

private:
    std::map<std::string, std::string> fTypes;  // lower-case extension without the dot -> content type
};

// The content type of a file by the system table, loaded once.
std::string ContentTypeOfFile(const std::string& path);

}  // namespace zelto
