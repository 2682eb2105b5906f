#pragma once
// The text pieces of the response documents: XML escaping and the item list of "sys.nad_list".
#include <string>
#include <string_view>
#include <vector>

namespace zelto {

// Escapes a UTF-8 text for an XML document declared ISO-8859-1 and sent as us-ascii: "<", ">", "&" and the
// double quote become entities, every UTF-16 code unit from 128 on becomes "&#" + its decimal + ";" (a
// character beyond U+FFFF as its two surrogates), a control character other than tab, LF and CR (which XML
// 1.0 does not allow) becomes "&#65533;" (U+FFFD, the replacement character), everything else (the
// apostrophe included) stays. A byte
// that is not part of a well-formed UTF-8 sequence is taken as the Latin-1 character of its value, so the
// result is always plain ASCII.
std::string EscapeXml(std::string_view Text);

// Each text as six spaces, "<item>", the text, "</item>", CR LF; concatenated, not escaped.
std::string ListToXmlItems(const std::vector<std::string>& Items);

}  // namespace zelto
