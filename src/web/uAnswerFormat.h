#pragma once
// Which answer a variable request gets, from its Accept header: the XML document unless the client
// prefers JSON, or a live stream of events when it asks for "text/event-stream" by name (what a
// browser's EventSource sends).
#include <string_view>

namespace zelto {

enum class TAnswerFormat { Xml, Json, EventStream };

// Each media range of the header counts with its q-value (default 1); the most specific range that
// matches a format gives that format's q. The event stream counts only when named exactly, never through
// "*/*" or "text/*", and is chosen when its q is the highest (a tie goes to the one named more
// specifically). Otherwise the answer is XML whenever XML's q is above 0 ("*/*", "text/*", "text/xml",
// "application/xml"), JSON when only JSON's is, and XML when none is.
TAnswerFormat ChooseAnswerFormat(std::string_view Accept);

}  // namespace zelto
