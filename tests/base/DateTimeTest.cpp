#include "base/DateTime.h"

#include <gtest/gtest.h>

using namespace zelto;

TEST(DateTime, EncodeDecodeRoundTrip) {
    struct Case { TDateTimeParts p; double expected; };
    const Case cases[] = {
        {{1899, 12, 30, 0, 0, 0, 0}, 0.0},
        {{1900, 1, 1, 0, 0, 0, 0}, 2.0},
        {{1970, 1, 1, 0, 0, 0, 0}, 25569.0},
        {{2018, 6, 25, 12, 0, 0, 0}, 43276.5},
        {{2000, 2, 29, 6, 0, 0, 0}, 36585.25},
        {{1899, 12, 29, 6, 0, 0, 0}, -1.25},
    };
    for (const auto& c : cases) {
        EXPECT_DOUBLE_EQ(EncodeDateTime(c.p), c.expected) << c.p.Year << "-" << c.p.Month << "-" << c.p.Day;
        const TDateTimeParts d = DecodeDateTime(c.expected);
        EXPECT_EQ(d.Year, c.p.Year);
        EXPECT_EQ(d.Month, c.p.Month);
        EXPECT_EQ(d.Day, c.p.Day);
        EXPECT_EQ(d.Hour, c.p.Hour);
    }
    const TDateTimeParts ms = DecodeDateTime(EncodeDateTime({2018, 6, 25, 14, 3, 7, 123}));
    EXPECT_EQ(ms.Hour, 14);
    EXPECT_EQ(ms.Minute, 3);
    EXPECT_EQ(ms.Second, 7);
    EXPECT_EQ(ms.MilliSecond, 123);
}

TEST(DateTime, InjectedClock) {
    SetNowFunction([] { return 43276.5; });
    EXPECT_EQ(Now(), 43276.5);
    SetNowFunction(nullptr);
    EXPECT_GT(Now(), 46000.0);  // after 2025
}
