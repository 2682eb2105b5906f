// main of the test programs that use sockets: enter a network namespace of their own, then run the tests.
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include "net/PrivateNetwork.h"

int main(int argc, char** argv) {
    std::string why;
    if (!zelto::test::EnterPrivateNetwork(why))
        std::fprintf(stderr, "No private network namespace (%s): socket tests are skipped.\n", why.c_str());
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
