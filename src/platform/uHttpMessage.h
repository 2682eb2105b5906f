#pragma once
// The listener's text rules for one request and one answer, apart from any socket: how a request target
// splits into path and query, and which content type and bytes a content text goes out as.
#include <string>
#include <string_view>

#include "platform/uHttpListener.h"

namespace zelto {

// Compares without regard to ASCII case.
bool IEquals(std::string_view a, std::string_view b);

// The media type of a Content-Type value, without parameters and surrounding blanks.
std::string_view MediaType(std::string_view contentType);

// Splits a request target into the percent-decoded path and the raw query. An absolute URL
// ("http://host/p?q") gives its path. False when the target is no path.
bool SplitTarget(std::string_view target, std::string& document, std::string& query);

// The host (and port) an absolute target names ("http://host:8080/p" gives "host:8080"); "" for a target
// that is a path. Such a target names the server asked for in place of the Host header.
std::string_view TargetAuthority(std::string_view target);

// The Content-Type header and the bytes for the handler's content text: "text/..." without a charset gets
// one ("us-ascii" for text/xml, "ISO-8859-1" otherwise) and the text in it; a text without a type is
// text/plain.
void EncodeText(const THttpResponseInfo& r, std::string& type, std::string& body);

// True for a header name and value that can go out as they are: no line breaks or NUL that would split
// the answer's header, and a name without blanks or colon.
bool IsSafeHeader(std::string_view name, std::string_view value);

}  // namespace zelto
