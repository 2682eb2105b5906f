#pragma once
// One entry of a variable request's answer, before it is written as XML, JSON or an event: the answer
// writers all read this list, so the formats cannot drift apart.
#include <string>
#include <vector>

namespace zelto {

enum class TValueKind {
    Number,      // Number holds the value
    Text,        // Text holds the value (possibly empty)
    NumberList,  // Items holds the numbers as decimal texts ("sys.nad_list")
    Missing,     // no value: Text is what the text formats show in its place, Error says why
};

struct TVarResult {
    std::string Name;
    TValueKind Kind = TValueKind::Missing;
    double Number = 0;
    std::string Text;
    std::vector<std::string> Items;
    std::string Error;
    std::string Description;  // UTF-8, not escaped

    bool operator==(const TVarResult&) const = default;
};

using TVarResults = std::vector<TVarResult>;

// The reason given for a name that no controller or system variable answers to.
inline constexpr const char* kUnknownVariable = "unknown variable";

}  // namespace zelto
