#pragma once
// Which answer a variable request gets, from its Accept header: the XML document unless the client
// prefers JSON, or a live stream of events when it asks for "text/event-stream" by name (what a
// browser's EventSource sends).
#include <string_view>

namespace zelto {

enum class TAnswerFormat { Xml, Json, EventStream };

// Each media range of the header counts with its q-value (default 1); the most specific range that
// matches a format gives that format's q. The format with the highest q wins; a tie goes to the one named
// more specifically, then to XML, then JSON. The event stream counts only when named exactly, never
// through "*/*" or "text/*". An empty header, or one that matches none of them, gives XML.
TAnswerFormat ChooseAnswerFormat(std::string_view Accept);

}  // namespace zelto
