#pragma once
// The JSON answer of a variable request: {"vars":[{"name":..,"value":..,"description":..}, ...]}.
// Numbers carry the digits of the XML answer with "." as the decimal point; INF, -INF and NAN, which JSON
// has no number for, go out as strings. An entry without a value has "value":null and "error" with the
// reason. Every string is escaped by JSON's rules and is valid UTF-8.
#include <string>
#include <string_view>

#include "web/uVarResult.h"

namespace zelto {

// The text as a JSON string, quotes included. A byte that is not part of a well-formed UTF-8 sequence is
// taken as the Latin-1 character of its value, so the result is always valid UTF-8.
std::string JsonString(std::string_view Text);
// An entry's value as JSON: a number, a string, an array of numbers, or null when it has none.
std::string JsonVarValue(const TVarResult& Result);
// Why an entry has no value (kUnknownVariable when nothing more is known).
std::string VarErrorOf(const TVarResult& Result);
// One entry as a JSON object.
std::string JsonVarEntry(const TVarResult& Result);
// The whole answer: {"vars":[entries in order]}.
std::string JsonVarsDocument(const TVarResults& Results);
// The same document from entries already written with JsonVarEntry.
std::string JsonVarsDocumentOf(const std::vector<std::string>& Entries);

}  // namespace zelto
