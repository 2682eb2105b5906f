#include "vars/uZeltoVars.h"

#include <bit>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace zelto;

namespace {
const std::string kMarker = ";CPU Zelto-2 NAD 10";

std::unique_ptr<TZeltoVar> MakeVar(TZeltoVarTyp typ) {
    return std::make_unique<TZeltoVar>("v", 0x100, 4, 1, 0, 0, vsGlobal, typ, vvUser, vaReadWrite, "", Variant(0));
}

std::string DataFile(const char* name) {
    return (std::filesystem::path(ZELTO_VARS_TEST_DATA) / name).string();
}

// The message of the EAlcParseError that loading `lines` raises, or "" when it raises none.
std::string LoadError(TZeltoVarList& list, const std::vector<std::string>& lines, int32_t nad = 10) {
    try {
        list.LoadFromStr(lines, nad);
    } catch (const EAlcParseError& e) {
        return e.what();
    }
    return "";
}
}  // namespace

// ---- the list and the ALC text

TEST(ZeltoVarList, ArrayLineGivesOneEntryPerElement) {
    TZeltoVarList list;
    list.LoadFromStr({kMarker, "0010 3 4 0 2 global word tab Step table", "0020 0 1 0 4 global real level"}, 10);
    ASSERT_EQ(list.Count(), 5);
    for (int i = 0; i < 4; ++i) {
        const TZeltoVar* v = list.Items(i);
        EXPECT_EQ(v->Name(), "tab");
        EXPECT_EQ(v->ArrayIndex(), i);
        EXPECT_EQ(v->ArrayCount(), 4);
        EXPECT_TRUE(v->IsArray());
        EXPECT_EQ(v->AccessType(), vaReadOnly);
        EXPECT_EQ(v->Visibility(), vvUser);
        EXPECT_EQ(v->Size(), 2);
        EXPECT_EQ(v->Typ(), vtWord);
        EXPECT_EQ(v->Scope(), vsGlobal);
        EXPECT_EQ(v->Description(), "Step table");
        EXPECT_EQ(v->RealAddress(), 0x10 + 2 * i);
        EXPECT_EQ(v->Value(), Variant(uint16_t{0}));
    }
    const TZeltoVar* level = list.Items(4);
    EXPECT_EQ(level->Description(), "");
    EXPECT_EQ(level->Visibility(), vvSystem);
    EXPECT_EQ(level->AccessType(), vaReadWrite);
    EXPECT_FALSE(level->IsArray());
    EXPECT_EQ(level->RealAddress(), 0x20);
    EXPECT_EQ(list.Items(5), nullptr);
    EXPECT_EQ(list.Items(-1), nullptr);
}

TEST(ZeltoVarList, RefusedLineNamesItsZeroBasedIndexAndKeepsEarlierVariables) {
    const std::vector<std::string> bad = {
        "0030 0 1 0 4 global float f", "0030 0 1 0 4 global real", "FFFFFFFF 0 1 0 4 global real r",
        "0030 0 1 -1 4 global real r", "; note", "0030\t0 1 0 4 global real r",
    };
    for (const std::string& line : bad) {
        TZeltoVarList list;
        const std::string error = LoadError(
            list, {"; header", kMarker, "0010 0 2 0 2 global word w", line, "0040 0 1 0 2 global word later"});
        EXPECT_EQ(error, "Error parsing ALC data on line 3") << line;
        ASSERT_EQ(list.Count(), 2) << line;
        EXPECT_EQ(list.Items(1)->Name(), "w");
    }
}

TEST(ZeltoVarList, ParsingStartsAtTheMarkerLine) {
    const std::vector<std::string> text = {"; note", "garbage\tline", "0010 0 1 0 2 global word before",
                                           "x ;CPU Zelto-2 here", "0020 0 1 0 2 global word after"};
    TZeltoVarList list;
    // The marker may stand anywhere in its line, but the line itself is parsed too.
    EXPECT_EQ(LoadError(list, text), "Error parsing ALC data on line 3");

    TZeltoVarList list2;
    EXPECT_EQ(LoadError(list2, {"; note", "0010 0 1 0 2 global word before", kMarker, "0020 0 1 0 2 global word after"}), "");
    ASSERT_EQ(list2.Count(), 1);
    EXPECT_EQ(list2.Items(0)->Name(), "after");

    // Without the marker nothing is read; with NAD -1 everything is, from line 0.
    TZeltoVarList list3;
    EXPECT_EQ(LoadError(list3, {"0010 0 1 0 2 global word w", ";CPU Zelto-2", ";CPU Zelto-20"}), "");
    EXPECT_EQ(list3.Count(), 0);
    TZeltoVarList list4;
    EXPECT_EQ(LoadError(list4, {"0010 0 1 0 2 global word w", "; note"}, -1), "Error parsing ALC data on line 1");
    EXPECT_EQ(list4.Count(), 1);
}

TEST(ZeltoVarList, LinesWithoutVariablesAndAppending) {
    TZeltoVarList list;
    list.LoadFromStr({kMarker, ";Addr x", "", "END", "0010 0 1 0 2 local word l", "0010 0 1 0 2 reg word r",
                      "0010 0 1 0 2 global const k", "0010 0 0 0 2 global word none"},
                     10);
    EXPECT_EQ(list.Count(), 0);
    list.LoadFromStr({kMarker, "0010 0 1 0 2 global word a"}, 10);
    list.LoadFromStr({kMarker, "0010 0 1 0 2 global word b"}, 10);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(*list.Strings(), (std::vector<std::string>{"a", "b"}));
}

TEST(ZeltoVarList, ElementCountsBeyondTheAddressSpaceAreRefused) {
    TZeltoVarList list;
    EXPECT_EQ(LoadError(list, {kMarker, "0000 0 65536 0 1 global bit ok", "0000 0 65537 0 1 global bit big"}),
              "Error parsing ALC data on line 2");
    EXPECT_EQ(list.Count(), 65536);
    std::vector<std::string> many = {kMarker};
    for (int i = 0; i < 5; ++i) many.push_back("0000 0 65536 0 1 global bit b" + std::to_string(i));
    TZeltoVarList list2;
    EXPECT_EQ(LoadError(list2, many), "Error parsing ALC data on line 5");
    EXPECT_EQ(list2.Count(), kMaxAlcEntries);
}

TEST(ZeltoVarList, LookupsByName) {
    TZeltoVarList list;
    list.LoadFromStr({kMarker, "0010 1 1 0 2 global word level", "0012 3 3 0 2 global word tab",
                      "0020 2 1 0 2 global word tab", "0030 0 1 0 2 global word sys"},
                     10);
    EXPECT_EQ(list.FindByName("Level"), nullptr);
    EXPECT_EQ(list.FindByName("level"), list.Items(0));
    ASSERT_NE(list.FindByName("tab"), nullptr);
    EXPECT_EQ(list.FindByName("tab")->ArrayIndex(), 0);
    EXPECT_EQ(list.FindByName("tab")->Address(), 0x12);

    EXPECT_EQ(*list.GetVarNames({vvUser}, {vaReadWrite, vaReadOnly}),
              (std::vector<std::string>{"tab", "tab", "tab", "tab"}));
    EXPECT_EQ(*list.GetVarNames({vvSystem, vvUser}, {vaReadWrite}), (std::vector<std::string>{"tab", "sys"}));
    EXPECT_FALSE(list.GetVarNames({vvHidden}, {vaReadWrite, vaReadOnly}).has_value());
    EXPECT_FALSE(list.GetVarNames({vvUser, vvSystem}, {}).has_value());
    EXPECT_EQ(list.Strings()->size(), 6u);
    EXPECT_FALSE(TZeltoVarList().Strings().has_value());

    // By name and element, without walking the list: right also after an entry leaves and the list moves.
    const auto positions = [](const TZeltoVarList& l, const char* name, int32_t index) {
        std::vector<int> at;
        l.ForEachElement(name, index, [&](int p, const TZeltoVar* v) {
            EXPECT_EQ(l.Items(p), v);
            at.push_back(p);
        });
        return at;
    };
    EXPECT_EQ(positions(list, "tab", 0), (std::vector<int>{1, 4}));
    EXPECT_EQ(positions(list, "tab", 2), (std::vector<int>{3}));
    EXPECT_TRUE(positions(list, "Tab", 0).empty());
    EXPECT_TRUE(positions(list, "tab", 3).empty());
    const auto level = list.Extract(list.Items(0));
    TZeltoVarList moved = std::move(list);
    EXPECT_EQ(positions(moved, "tab", 0), (std::vector<int>{0, 3}));
    EXPECT_TRUE(positions(list, "tab", 0).empty());
    moved.Clear();
    EXPECT_TRUE(positions(moved, "tab", 0).empty());
}

TEST(ZeltoVarList, RealisticAlcFileParsedWhole) {
    TZeltoVarList list;
    list.LoadFromFile(DataFile("tank_plant.alc"), 10);
    ASSERT_EQ(list.Count(), 229);

    int perTyp[14] = {};
    for (const TZeltoVar* v : list) ++perTyp[v->Typ()];
    const int expected[14] = {0, 50, 76, 24, 16, 38, 12, 8, 0, 1, 1, 1, 1, 1};
    for (int t = 0; t < 14; ++t) EXPECT_EQ(perTyp[t], expected[t]) << "type " << t;
    EXPECT_EQ(list.GetVarNames({vvUser}, {vaReadWrite, vaReadOnly})->size(), 202u);
    EXPECT_EQ(list.GetVarNames({vvSystem}, {vaReadWrite, vaReadOnly})->size(), 27u);
    EXPECT_EQ(list.GetVarNames({vvUser, vvSystem}, {vaReadOnly})->size(), 41u);
    EXPECT_EQ(list.GetVarNames({vvUser}, {vaReadWrite})->size(), 162u);

    // Windows-1252 descriptions arrive as UTF-8.
    EXPECT_EQ(list.FindByName("level_0")->Description(), "Füllstand Tank 0 in m³");
    EXPECT_EQ(list.FindByName("temp_3")->Description(), "Temperatur Fühler 3 in 0,1 °C");
    EXPECT_EQ(list.FindByName("temp_3")->RealAddress(), 0x56);
    const TZeltoVar* tab = list.FindByName("tab");
    EXPECT_EQ(tab->Address(), 0x12C);
    EXPECT_EQ(tab->ArrayCount(), 16);
    const int curve = list.IndexOf(list.FindByName("curve"));
    EXPECT_EQ(list.Items(curve + 3)->RealAddress(), 0x14C + 3 * 4);
    EXPECT_EQ(list.Items(curve + 3)->ArrayIndex(), 3);
    EXPECT_EQ(list.FindByName("offsets")->Typ(), vtInt);
    EXPECT_EQ(list.FindByName("c_batches")->Typ(), vtCounterInt);
    EXPECT_EQ(list.FindByName("loc_0"), nullptr);
    EXPECT_EQ(list.FindByName("K_0"), nullptr);
    EXPECT_EQ(list.FindByName("r0"), nullptr);
    EXPECT_EQ(list.FindByName("empty_array"), nullptr);
    EXPECT_EQ(list.Items(list.Count() - 1)->Name(), "setpoint_39");
}

TEST(ZeltoVarList, StreamLineBreaksEncodingsAndMissingFile) {
    const struct {
        std::string bytes;
        std::string description;
    } cases[] = {
        {";CPU Zelto-2 \r\n0010 0 1 0 2 global word w Temp \xB0" "C\r\n", "Temp °C"},
        {";CPU Zelto-2 \r0010 0 1 0 2 global word w \x80 5\r", "€ 5"},
        {";CPU Zelto-2 \n0010 0 1 0 2 global word w x", "x"},
        {"\xEF\xBB\xBF;CPU Zelto-2 \n0010 0 1 0 2 global word w \xC3\xA9t\xC3\xA9", "été"},
    };
    for (const auto& c : cases) {
        TZeltoVarList list;
        std::istringstream in(c.bytes);
        list.LoadFromStream(in, 10);
        ASSERT_EQ(list.Count(), 1) << c.bytes;
        EXPECT_EQ(list.Items(0)->Description(), c.description);
    }
    TZeltoVarList list;
    try {
        list.LoadFromFile(DataFile("no_such.alc"), 10);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Cannot open file \"" + DataFile("no_such.alc") + "\". No such file or directory");
    }
}

TEST(ZeltoVarList, OwningAndBorrowingLists) {
    TZeltoVarList owner;
    TZeltoVar* a = owner.Items(owner.Add(MakeVar(vtWord)));
    TZeltoVar* b = owner.Items(owner.Add(MakeVar(vtWord)));
    EXPECT_THROW(owner.Add(a), std::logic_error);
    EXPECT_THROW(owner.ClearWithoutFreeing(), std::logic_error);
    {
        TZeltoVarList borrower(TListOwnership::Borrows);
        borrower.Add(a);
        borrower.Add(b);
        EXPECT_THROW(borrower.Add(MakeVar(vtBit)), std::logic_error);
        EXPECT_EQ(borrower.Remove(b), 1);
        EXPECT_EQ(borrower.Remove(b), -1);
        borrower.Clear();
    }
    EXPECT_EQ(owner.Count(), 2);
    std::unique_ptr<TZeltoVar> taken = owner.Extract(a);
    EXPECT_EQ(taken.get(), a);
    EXPECT_EQ(owner.IndexOf(a), -1);
    EXPECT_EQ(owner.Remove(b), 0);
    EXPECT_EQ(owner.Count(), 0);
}

// ---- a variable and its value

TEST(ZeltoVar, CreateAssignAndRealAddress) {
    TZeltoVar empty;
    EXPECT_EQ(empty.Typ(), vtNone);
    EXPECT_EQ(empty.Scope(), vsNone);
    EXPECT_EQ(empty.Visibility(), vvSystem);
    EXPECT_EQ(empty.AccessType(), vaReadWrite);
    EXPECT_EQ(empty.ArrayCount(), 0);
    EXPECT_EQ(empty.ZeltoValue(), 0);
    EXPECT_FALSE(empty.WriteReq());
    EXPECT_TRUE(empty.Stream().empty());

    TZeltoVar src("tab", 0x10, 2, 4, 2, 6, vsGlobal, vtWord, vvUser, vaReadOnly, "Step", Variant(7));
    EXPECT_EQ(src.RealAddress(), 0x10 + 6 + 2 * 2);
    EXPECT_EQ(src.Value(), Variant(uint16_t{7}));
    EXPECT_EQ(src.ZeltoValue(), 7);
    src.SetWriteReq(true);
    src.SetStreamByteCount(3);
    src.Stream() = {1, 2, 3};
    TZeltoVar copy;
    copy.Assign(&src);
    copy.Assign(nullptr);
    EXPECT_EQ(copy.Name(), "tab");
    EXPECT_EQ(copy.Description(), "Step");
    EXPECT_EQ(copy.Typ(), vtWord);
    EXPECT_EQ(copy.Scope(), vsGlobal);
    EXPECT_EQ(copy.Visibility(), vvUser);
    EXPECT_EQ(copy.AccessType(), vaReadOnly);
    EXPECT_EQ(copy.RealAddress(), src.RealAddress());
    EXPECT_EQ(copy.ArrayCount(), 4);
    EXPECT_EQ(copy.ArrayIndex(), 2);
    EXPECT_EQ(copy.Value(), Variant(uint16_t{7}));
    EXPECT_TRUE(copy.WriteReq());
    EXPECT_EQ(copy.StreamByteCount(), 3);
    EXPECT_EQ(copy.Stream(), (TByteStream{1, 2, 3}));

    // A plain variable ignores its element index; the address arithmetic wraps at 32 bits.
    TZeltoVar plain("p", 0x7FFFFFFF, 4, 1, 5, 1, vsGlobal, vtLong, vvUser, vaReadWrite, "", Variant(0));
    EXPECT_EQ(plain.RealAddress(), std::numeric_limits<int32_t>::min());
}

TEST(ZeltoVar, ValueReadFromTheRawForm) {
    const struct {
        TZeltoVarTyp typ;
        uint32_t raw;
        Variant value;
        int32_t zeltoValue;
    } cases[] = {
        {vtBit, 0xFFFFFFFF, Variant(uint8_t{255}), 255},
        {vtWord, 0xFFFFFFFF, Variant(uint16_t{65535}), 65535},
        {vtInt, 0xFFFFFFFF, Variant(int16_t{-1}), -1},
        {vtLong, 0xFFFFFFFF, Variant(int32_t{-1}), -1},
        {vtBit, 0x12345678, Variant(uint8_t{0x78}), 0x78},
        {vtWord, 0x12345678, Variant(uint16_t{0x5678}), 0x5678},
        {vtInt, 0x00008000, Variant(int16_t{-32768}), -32768},
        {vtInt, 0x0000FFFF, Variant(int16_t{-1}), -1},
        {vtLong, 0x80000000, Variant(int32_t{std::numeric_limits<int32_t>::min()}), std::numeric_limits<int32_t>::min()},
        {vtReal, 0x3F800000, Variant(1.0), 0x3F800000},
        {vtReal, 0xC0490FDB, Variant(static_cast<double>(-3.14159274101257324f)), static_cast<int32_t>(0xC0490FDB)},
        {vtReal, 0x00000001, Variant(static_cast<double>(std::bit_cast<float>(1u))), 1},
        {vtReal, 0x80000000, Variant(-0.0), static_cast<int32_t>(0x80000000)},
        {vtTimer, 7, Variant(int32_t{7}), 0},
        {vtCounterInt, 0xFFFFFFFF, Variant(int32_t{-1}), 0},
        {vtNone, 5, Variant(int32_t{5}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.typ << " raw " << std::hex << c.raw);
        auto v = MakeVar(c.typ);
        v->SetZeltoValue(static_cast<int32_t>(c.raw));
        EXPECT_EQ(v->Value(), c.value);
        EXPECT_EQ(v->ZeltoValue(), c.zeltoValue);
        EXPECT_EQ(v->ValueInt(), c.zeltoValue);
        EXPECT_EQ(v->ValueFloat(), c.value.AsDouble());
    }
}

TEST(ZeltoVar, WritingValueSetsBothForms) {
    const struct {
        TZeltoVarTyp typ;
        Variant in;
        Variant value;
        int32_t zeltoValue;
    } cases[] = {
        {vtWord, Variant(70000), Variant(uint16_t{4464}), 4464},
        {vtBit, Variant(-1), Variant(uint8_t{255}), 255},
        {vtBit, Variant(300.4), Variant(uint8_t{44}), 44},
        {vtInt, Variant(40000), Variant(int16_t{-25536}), -25536},
        {vtLong, Variant(2.5), Variant(int32_t{2}), 2},
        {vtLong, Variant(3.5), Variant(int32_t{4}), 4},
        {vtLong, Variant(-2147483648.0), Variant(int32_t{std::numeric_limits<int32_t>::min()}), std::numeric_limits<int32_t>::min()},
        {vtLong, Variant("12"), Variant(int32_t{12}), 12},
        {vtWord, Variant("$FFFF"), Variant(uint16_t{65535}), 65535},
        {vtReal, Variant(1), Variant(1.0), 0x3F800000},
        {vtReal, Variant("1.5"), Variant(1.5), 0x3FC00000},
        {vtReal, Variant(0.1), Variant(static_cast<double>(0.1f)), 0x3DCCCCCD},
        {vtReal, Variant(3.0e9), Variant(3.0e9), 0x4F32D05E},
        {vtReal, Variant(-0.0), Variant(-0.0), static_cast<int32_t>(0x80000000)},
        {vtReal, Variant(static_cast<double>(FLT_MAX)), Variant(static_cast<double>(FLT_MAX)), 0x7F7FFFFF},
        {vtReal, Variant(0x1.fffffefp127), Variant(static_cast<double>(FLT_MAX)), 0x7F7FFFFF},
        {vtReal, Variant(std::numeric_limits<double>::infinity()), Variant(std::numeric_limits<double>::infinity()), 0x7F800000},
        {vtReal, Variant(-std::numeric_limits<double>::infinity()), Variant(-std::numeric_limits<double>::infinity()),
         static_cast<int32_t>(0xFF800000)},
        {vtTimer, Variant(7), Variant(int32_t{7}), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.typ << " in " << c.in.AsText());
        auto v = MakeVar(c.typ);
        v->SetValue(c.in);
        EXPECT_EQ(v->Value(), c.value);
        EXPECT_EQ(v->ZeltoValue(), c.zeltoValue);
        EXPECT_FALSE(v->WriteReq());
    }
    // The types without a transferred value keep the Variant at 0 when the raw form is written.
    auto timer = MakeVar(vtTimer);
    timer->SetZeltoValue(7);
    EXPECT_EQ(timer->Value(), Variant(int32_t{7}));
    EXPECT_EQ(timer->ZeltoValue(), 0);
}

TEST(ZeltoVar, FailingConversionsChangeNothing) {
    const struct {
        TZeltoVarTyp typ;
        Variant in;
    } cases[] = {
        {vtLong, Variant(3.0e9)},  {vtWord, Variant("abc")},  {vtInt, Variant("1,5")}, {vtBit, Variant()},
        {vtReal, Variant(1e39)},   {vtReal, Variant(0x1.ffffffp127)}, {vtReal, Variant(-1e39)},
        {vtReal, Variant("x")},    {vtTimer, Variant(5e9)},
        {vtLong, Variant(std::numeric_limits<double>::quiet_NaN())},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.typ << " in " << c.in.AsText());
        auto v = MakeVar(c.typ);
        v->SetZeltoValue(42);
        const Variant before = v->Value();
        EXPECT_THROW(v->ValueForPLC(c.in), EVariantError);
        EXPECT_EQ(v->Value(), before);
        EXPECT_EQ(v->ZeltoValue(), c.typ == vtTimer ? 0 : 42);
        EXPECT_FALSE(v->WriteReq());
        EXPECT_THROW(VarToPLCValue(c.in, c.typ == vtTimer ? vtLong : c.typ), EVariantError);
    }
    EXPECT_THROW(TZeltoVar("x", 0, 1, 1, 0, 0, vsGlobal, vtBit, vvUser, vaReadWrite, "", Variant("abc")), EVariantError);
}

TEST(ZeltoVar, InfinityAndNaNAreCarriedAndShown) {
    auto v = MakeVar(vtReal);
    const struct {
        uint32_t raw;
        const char* text;
    } cases[] = {{0x7F800000, "INF"}, {0xFF800000, "-INF"}, {0x7FC00000, "NAN"}, {0x7F800001, "NAN"}, {0xFFFFFFFF, "NAN"}};
    for (const auto& c : cases) {
        v->SetZeltoValue(static_cast<int32_t>(c.raw));
        EXPECT_EQ(v->ValueText(), c.text);
        // The raw pattern survives a copy and reads back bit for bit.
        EXPECT_EQ(static_cast<uint32_t>(v->ZeltoValue()), c.raw);
        TZeltoVar copy;
        copy.Assign(v.get());
        EXPECT_EQ(static_cast<uint32_t>(copy.ZeltoValue()), c.raw);
    }
}

TEST(ZeltoVar, ValueTextFollowsTheDecimalSeparator) {
    auto real = MakeVar(vtReal);
    real->SetZeltoValue(0x3DCCCCCD);
    EXPECT_EQ(real->ValueText(TFormatSettings{".", ":"}), "0.100000001490116");
    EXPECT_EQ(real->ValueText(TFormatSettings{",", ":"}), "0,100000001490116");
    auto word = MakeVar(vtWord);
    word->SetZeltoValue(-1);
    EXPECT_EQ(word->ValueText(TFormatSettings{",", ":"}), "65535");
    auto timer = MakeVar(vtTimer);
    timer->SetZeltoValue(-7);
    EXPECT_EQ(timer->ValueText(TFormatSettings{".", ":"}), "-7");
}

TEST(ZeltoVar, ValueForPLCMarksTheWrite) {
    auto v = MakeVar(vtInt);
    v->ValueForPLC(Variant(-5));
    EXPECT_TRUE(v->WriteReq());
    EXPECT_EQ(v->ZeltoValue(), -5);
}

TEST(ZeltoVar, VarToPLCValuePerType) {
    const struct {
        Variant in;
        TZeltoVarTyp typ;
        Variant out;
    } cases[] = {
        {Variant(300), vtBit, Variant(uint8_t{44})},
        {Variant(-1), vtWord, Variant(uint16_t{65535})},
        {Variant(70000), vtInt, Variant(int16_t{4464})},
        {Variant(40000.0), vtInt, Variant(int16_t{-25536})},
        {Variant(-7.6), vtLong, Variant(int32_t{-8})},
        {Variant(1.0), vtReal, Variant(int32_t{1065353216})},
        {Variant(-2), vtReal, Variant(static_cast<int32_t>(0xC0000000))},
        {Variant(5), vtTimer, Variant(int32_t{5})},
        {Variant(2.5), vtCounter, Variant(2.5)},
        {Variant("x"), vtVoid, Variant("x")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.typ << " in " << c.in.AsText());
        EXPECT_EQ(VarToPLCValue(c.in, c.typ), c.out);
    }
}

TEST(ZeltoVar, TypeAndScopeWords) {
    for (int t = vtBit; t <= vtCounterInt; ++t) {
        const auto typ = static_cast<TZeltoVarTyp>(t);
        EXPECT_EQ(StrToVarTyp(VarTypToStr(typ)), typ);
    }
    EXPECT_EQ(VarTypToStr(vtCounterInt), "counterlong");
    EXPECT_EQ(StrToVarTyp("TimerBit"), vtTimerBit);
    EXPECT_EQ(StrToVarTyp("counterint"), vtNone);
    EXPECT_EQ(StrToVarTyp("re\xC3\xA1l"), vtNone);
    EXPECT_EQ(StrToVarScope("REG"), vsReg);
    EXPECT_EQ(StrToVarScope(""), vsNone);
    EXPECT_EQ(VarTypTransferBytes(vtInt), 2);
    EXPECT_EQ(VarTypTransferBytes(vtReal), 4);
    EXPECT_EQ(VarTypTransferBytes(vtTimerBit), 0);
}
