#include "platform/uVersion.h"

#include <gtest/gtest.h>

using namespace zelto;

TEST(GetVersionText, CutsTheFileVersionToParts) {
    const struct {
        int parts;
        const char* version;
        const char* expected;
    } cases[] = {
        {-1, "1.0.3.0", ""},        {0, "1.0.3.0", ""},     {1, "1.0.3.0", "1"},          {2, "1.0.3.0", "1.0"},
        {3, "1.0.3.0", "1.0.3"},    {4, "1.0.3.0", "1.0.3.0"}, {9, "1.0.3.0", "1.0.3.0"}, {3, "12.34.56.78", "12.34.56"},
        {3, "", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(GetVersionText(c.parts, c.version), c.expected) << c.parts << " " << c.version;
}

TEST(GetVersionText, ThisBuildIs103) {
    EXPECT_STREQ(kFileVersion, "1.0.3.0");
    EXPECT_EQ(GetVersionText(3), "1.0.3");
}
