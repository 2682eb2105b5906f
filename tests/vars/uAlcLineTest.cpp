#include "vars/uAlcLine.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace zelto;

namespace {
struct LineCase {
    std::string line;
    bool accepted;
    bool isVariable;
    int32_t address, flags, count, offset, size;
    TZeltoVarScope scope;
    TZeltoVarTyp typ;
    std::string name, description;
};
}  // namespace

TEST(AlcLine, ColumnsOfAcceptedAndRefusedLines) {
    const std::vector<LineCase> cases = {
        {"0010 3 4 0 2 global word tab Step table", true, true, 0x10, 3, 4, 0, 2, vsGlobal, vtWord, "tab", "Step table"},
        {"0020 0 1 0 4 global real level", true, true, 0x20, 0, 1, 0, 4, vsGlobal, vtReal, "level", ""},
        {"0020 0 1 0 4 GLOBAL REAL level", true, true, 0x20, 0, 1, 0, 4, vsGlobal, vtReal, "level", ""},
        {"0020 0 1 0 4 Global CounterLong c", true, true, 0x20, 0, 1, 0, 4, vsGlobal, vtCounterInt, "c", ""},
        {"  \t0020   2  1  0 4 local int x    two  words \t ", true, true, 0x20, 2, 1, 0, 4, vsLocal, vtInt, "x",
         "two  words"},
        {"ffff 0 1 0 1 reg bit b", true, true, 0xFFFF, 0, 1, 0, 1, vsReg, vtBit, "b", ""},
        {"FFFFFFFE 10 1 -4 -2 global long n", true, true, -2, 0x10, 1, -4, -2, vsGlobal, vtLong, "n", ""},
        {"0010 0 $10 0 2 global word arr", true, true, 0x10, 0, 16, 0, 2, vsGlobal, vtWord, "arr", ""},
        {"0010 0 1 0 4 global real niv\xC3\xA5 Füllstand °C", true, true, 0x10, 0, 1, 0, 4, vsGlobal, vtReal,
         "niv\xC3\xA5", "Füllstand °C"},
        // Lines that declare nothing.
        {";CPU Zelto-2 NAD 10", true, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {";Addr Flags Count", true, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"", true, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {" \t ", true, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"END", true, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"  0010\t3\t4", true, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        // Refused lines.
        {"; note", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {";cpu Zelto-2 ", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010\t3 4 0 2 global word tab", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 3 4 0 2 global\tword tab", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"FFFFFFFF 0 1 0 4 global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 FFFFFFFF 1 0 4 global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"100000000 0 1 0 4 global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0x10 0 1 0 4 global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"$10 0 1 0 4 global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"-10 0 1 0 4 global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0 -1 0 4 global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0 1 -1 4 global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0 1 0 -1 global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0 1 0 $FFFFFFFF global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0 1.0 0 4 global real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0 1 0 4 globals real x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0 1 0 4 global float x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0 1 0 4 global counterint x", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0 1 0 4 global real", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0 1 0 4 global real ", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
        {"0010 0", false, false, 0, 0, 0, 0, 0, vsNone, vtNone, "", ""},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.line);
        TAlcLine out;
        ASSERT_EQ(ParseAlcLine(c.line, out), c.accepted);
        if (!c.accepted) continue;
        EXPECT_EQ(out.IsVariable, c.isVariable);
        if (!c.isVariable) continue;
        EXPECT_EQ(out.Address, c.address);
        EXPECT_EQ(out.Flags, c.flags);
        EXPECT_EQ(out.Count, c.count);
        EXPECT_EQ(out.Offset, c.offset);
        EXPECT_EQ(out.Size, c.size);
        EXPECT_EQ(out.Scope, c.scope);
        EXPECT_EQ(out.Typ, c.typ);
        EXPECT_EQ(out.Name, c.name);
        EXPECT_EQ(out.Description, c.description);
    }
}

TEST(AlcLine, FlagsGiveAccessAndVisibility) {
    const struct {
        const char* flags;
        TZeltoVarAccessType access;
        TZeltoVarVisibility visibility;
    } cases[] = {{"0", vaReadWrite, vvSystem}, {"1", vaReadOnly, vvSystem}, {"2", vaReadWrite, vvUser},
                 {"3", vaReadOnly, vvUser},    {"FC", vaReadWrite, vvSystem}, {"7", vaReadOnly, vvUser}};
    for (const auto& c : cases) {
        TAlcLine out;
        ASSERT_TRUE(ParseAlcLine(std::string("0010 ") + c.flags + " 1 0 2 global word w", out)) << c.flags;
        EXPECT_EQ(out.AccessType(), c.access) << c.flags;
        EXPECT_EQ(out.Visibility(), c.visibility) << c.flags;
    }
}

TEST(AlcLine, OnlyGlobalNonConstantLinesWithElementsGiveVariables) {
    const struct {
        const char* line;
        bool gives;
    } cases[] = {
        {"0010 0 2 0 2 global word w", true},  {"0010 0 2 0 2 local word w", false},
        {"0010 0 2 0 2 reg word w", false},    {"0010 0 2 0 2 global const w", false},
        {"0010 0 0 0 2 global word w", false}, {"0010 0 -5 0 2 global word w", false},
        {"0010 0 1 0 0 global void w", true},
    };
    for (const auto& c : cases) {
        TAlcLine out;
        ASSERT_TRUE(ParseAlcLine(c.line, out)) << c.line;
        EXPECT_EQ(out.GivesVariables(), c.gives) << c.line;
    }
}

// Every prefix of a valid line is either refused or read cleanly; it declares a variable only once the
// name column has begun.
TEST(AlcLine, EveryPrefixOfAValidLineIsHandledCleanly) {
    const std::string line = "0010 3 4 0 2 global word tab Step table";
    const std::size_t nameStart = line.find("tab");
    for (std::size_t n = 0; n <= line.size(); ++n) {
        const std::string prefix = line.substr(0, n);
        TAlcLine out;
        const bool accepted = ParseAlcLine(prefix, out);
        if (n > nameStart) {
            EXPECT_TRUE(accepted && out.IsVariable) << prefix;
        } else if (prefix.find(' ') == std::string::npos) {
            EXPECT_TRUE(accepted && !out.IsVariable) << prefix;
        } else {
            EXPECT_FALSE(accepted) << prefix;
        }
    }
}
