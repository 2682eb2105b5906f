#pragma once
// The host's first local IPv4 address, as shown at start before any request has come in.
#include <string>

namespace zelto {

// The first IPv4 address of an adapter that is up and not the loopback; the loopback address when there is
// no other; empty when there is none at all.
std::string FirstLocalIPv4();

}  // namespace zelto
