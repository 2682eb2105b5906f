#include "base/NumberText.h"
#include "base/Variant.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

using namespace zelto;

TEST(NumberText, WholeNumbers) {
    struct Case { const char* text; bool ok; int32_t value; };
    const Case cases[] = {
        {"0", true, 0}, {"  42", true, 42}, {"+7", true, 7}, {"-7", true, -7},
        {"2147483647", true, 2147483647}, {"-2147483648", true, INT32_MIN},
        {"2147483648", false, 0}, {"-2147483649", false, 0}, {"99999999999999999999", false, 0},
        {"$FF", true, 255}, {"xff", true, 255}, {"X10", true, 16}, {"0x1A", true, 26}, {"0XaB", true, 171},
        {"$FFFFFFFF", true, -1}, {"$80000000", true, INT32_MIN}, {"$100000000", false, 0}, {"-$10", true, -16},
        {"", false, 0}, {" ", false, 0}, {"+", false, 0}, {"$", false, 0}, {"0x", false, 0},
        {"12 ", false, 0}, {"1.0", false, 0}, {"\t1", false, 0}, {"1e3", false, 0}, {"$G", false, 0}, {"--1", false, 0},
    };
    for (const auto& c : cases) {
        int32_t v = 12345;
        EXPECT_EQ(TryParseWholeNumber(c.text, v), c.ok) << '"' << c.text << '"';
        if (c.ok) { EXPECT_EQ(v, c.value) << "\"" << c.text << "\""; }
    }
}

TEST(NumberText, DecimalNumbers) {
    struct Case { const char* text; bool ok; double value; };
    const double inf = std::numeric_limits<double>::infinity();
    const Case cases[] = {
        {"0", true, 0}, {"1.5", true, 1.5}, {"  -2.25", true, -2.25}, {"+3", true, 3}, {"5.", true, 5}, {".5", true, 0.5},
        {"1e3", true, 1000}, {"1E-3", true, 0.001}, {"2.5e+2", true, 250}, {"1e999", true, inf}, {"-1e999", true, -inf},
        {"1e-999", true, 0},
        {"", false, 0}, {".", false, 0}, {"1,5", false, 0}, {"1.2.3", false, 0}, {"1e", false, 0}, {"1e+", false, 0},
        {"e5", false, 0}, {"1.5 ", false, 0}, {"inf", false, 0}, {"nan", false, 0}, {"0x10", false, 0}, {"- 1", false, 0},
    };
    for (const auto& c : cases) {
        double v = -99;
        EXPECT_EQ(TryParseDecimalNumber(c.text, v), c.ok) << '"' << c.text << '"';
        if (c.ok) { EXPECT_EQ(v, c.value) << "\"" << c.text << "\""; }
    }
}

TEST(NumberText, GeneralFormat) {
    const TFormatSettings dot{".", ":"};
    const TFormatSettings comma{",", ":"};
    struct Case { double x; const char* text; };
    const Case cases[] = {
        {0, "0"}, {0.5, "0.5"}, {100, "100"}, {0.0001, "0.0001"}, {0.00001, "1E-5"}, {1.5e20, "1.5E20"},
        {-12.75, "-12.75"}, {static_cast<double>(0.1f), "0.100000001490116"}, {123456789012345.0, "123456789012345"},
        {1e15, "1E15"}, {999999999999999.4, "999999999999999"}, {9999999999999999.0, "1E16"}, {-2147483648.0, "-2147483648"},
        {1.0 / 3.0, "0.333333333333333"}, {2.0 / 3.0, "0.666666666666667"}, {0.00012345, "0.00012345"},
        {3.4028234663852886e38, "3.40282346638529E38"}, {1.401298464324817e-45, "1.40129846432482E-45"},
        {std::numeric_limits<double>::infinity(), "INF"}, {-std::numeric_limits<double>::infinity(), "-INF"},
        {std::nan(""), "NAN"},
    };
    for (const auto& c : cases) EXPECT_EQ(FormatGeneral(c.x, dot), c.text) << c.x;
    EXPECT_EQ(FormatGeneral(-0.5, comma), "-0,5");
    EXPECT_EQ(FormatGeneral(1.5e-7, comma), "1,5E-7");
}

TEST(Variant, Conversions) {
    EXPECT_EQ(Variant(uint8_t{200}).AsInt32(), 200);
    EXPECT_EQ(Variant(int16_t{-5}).AsDouble(), -5.0);
    EXPECT_EQ(Variant(2.5).AsInt32(), 2);  // ties to even
    EXPECT_EQ(Variant(3.5).AsInt32(), 4);
    EXPECT_EQ(Variant(-2147483648.4).AsInt32(), INT32_MIN);
    EXPECT_THROW(Variant(2147483648.0).AsInt32(), EVariantError);
    EXPECT_THROW(Variant(std::nan("")).AsInt32(), EVariantError);
    EXPECT_THROW(Variant("12").AsDouble(), EVariantError);
    EXPECT_THROW(Variant().AsInt32(), EVariantError);
    EXPECT_TRUE(Variant(uint16_t{1}).IsInteger());
    EXPECT_FALSE(Variant(1.0).IsInteger());
    EXPECT_NE(Variant(uint8_t{1}), Variant(int32_t{1}));  // the width is part of the value
}
