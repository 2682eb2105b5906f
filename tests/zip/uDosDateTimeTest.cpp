#include "zip/uDosDateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace zelto;

TEST(DosDateTime, ToDosForm) {
    struct Case {
        TDateTimeParts p;
        uint32_t dos;
    };
    const Case cases[] = {
        {{1980, 1, 1, 0, 0, 0, 0}, 0x00210000u},
        {{2024, 5, 17, 13, 45, 30, 0}, 0x58B16DAFu},
        {{2024, 5, 17, 13, 45, 31, 999}, 0x58B16DAFu},  // seconds in steps of two, rounded down
        {{2000, 2, 29, 23, 59, 58, 0}, 0x285DBF7Du},
        {{2107, 12, 31, 23, 59, 59, 0}, 0xFF9FBF7Du},
        {{1979, 12, 31, 23, 59, 59, 0}, 0u},
        {{2108, 1, 1, 0, 0, 0, 0}, 0u},
        {{1899, 12, 30, 0, 0, 0, 0}, 0u},
    };
    for (const auto& c : cases) EXPECT_EQ(DateTimeToDosDateTime(EncodeDateTime(c.p)), c.dos) << c.p.Year;
    EXPECT_EQ(DateTimeToDosDateTime(std::nan("")), 0u);
    EXPECT_EQ(DateTimeToDosDateTime(std::numeric_limits<double>::infinity()), 0u);
    EXPECT_EQ(DateTimeToDosDateTime(1e300), 0u);
}

TEST(DosDateTime, FromDosForm) {
    struct Case {
        uint32_t dos;
        bool valid;
        TDateTimeParts p;
    };
    const Case cases[] = {
        {0x58B16DAFu, true, {2024, 5, 17, 13, 45, 30, 0}},
        {0x00210000u, true, {1980, 1, 1, 0, 0, 0, 0}},
        {0x285DBF7Du, true, {2000, 2, 29, 23, 59, 58, 0}},
        {0xFF9FBF7Du, true, {2107, 12, 31, 23, 59, 58, 0}},
        {0x0u, false, {}},                 // month 0, day 0
        {0x58A00000u, false, {}},          // day 0
        {0x59A10000u, false, {}},          // month 13
        {0x565D0000u, false, {}},          // 2023-02-29
        {0x58B1C000u, false, {}},          // hour 24
        {0x58B10780u, false, {}},          // minute 60
        {0x58B1001Eu, false, {}},          // second 60
    };
    for (const auto& c : cases) {
        const auto v = DosDateTimeToDateTime(c.dos);
        ASSERT_EQ(v.has_value(), c.valid) << std::hex << c.dos;
        if (c.valid) {
            EXPECT_DOUBLE_EQ(*v, EncodeDateTime(c.p)) << std::hex << c.dos;
        }
    }
}
