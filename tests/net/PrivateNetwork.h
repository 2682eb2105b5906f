#pragma once
// Tests that touch sockets run in a network namespace of their own: only a loopback adapter, nothing that
// leaves the machine. The test program's main enters it before any thread starts.
#include <string>

namespace zelto::test {

// Moves the calling (still single-threaded) process into a new network namespace and brings its loopback
// adapter up; without root, inside a user namespace of its own in which it is root. False with a reason
// when the system refuses both.
bool EnterPrivateNetwork(std::string& Why);
// Whether main entered the private namespace.
bool InPrivateNetwork();
// Runs an iproute2 command ("link add ...") inside the private namespace; true on success.
bool RunIp(const std::string& Arguments);

}  // namespace zelto::test

// Skips the current test when it would otherwise touch the host's own network.
#define ZELTO_REQUIRE_PRIVATE_NETWORK()                                                   \
    do {                                                                                \
        if (!::zelto::test::InPrivateNetwork())                                         \
            GTEST_SKIP() << "needs a network namespace of its own (user namespaces are off here)"; \
    } while (0)
