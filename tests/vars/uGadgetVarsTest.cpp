#include "vars/uGadgetVars.h"

#include <cfloat>
#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace zelto;

namespace {
std::unique_ptr<TZeltoVar> MakeVar(TZeltoVarTyp typ, const std::string& name = "x", int32_t count = 1,
                                   int32_t index = 0) {
    return std::make_unique<TZeltoVar>(name, 0x40, 2, count, index, 0, vsGlobal, typ, vvUser, vaReadWrite, "d",
                                       Variant(0));
}

// A list with one request variable per full name, each bound to a variable of `typ` kept in `vars`.
TGadgetVarList BoundList(const std::vector<std::string>& names, TZeltoVarTyp typ, TZeltoVarList& vars) {
    TGadgetVarList list;
    for (const std::string& n : names) {
        TGadgetVar* g = list.Items(list.Add(std::make_unique<TGadgetVar>(n)));
        g->SetZeltoVar(vars.Items(vars.Add(MakeVar(typ, g->Name()))));
    }
    return list;
}
}  // namespace

TEST(GadgetVar, FullNameSyntax) {
    const struct {
        const char* text;
        bool ok;
        int32_t nad;
        const char* name;
        int32_t index;
        const char* writeValue;
    } cases[] = {
        {"c1000.level", true, 1000, "level", -1, ""},
        {"C12.tab[3]=7", true, 12, "tab", 3, "7"},
        {"c5.x[-1]", true, 5, "x[-1]", -1, ""},
        {"c5.x[]", true, 5, "x[]", -1, ""},
        {"c5.x[2]y", true, 5, "xy", 2, ""},
        {"c5.x[2][3]", true, 5, "x[3]", 2, ""},
        {"c5.x]2[", true, 5, "x]2[", -1, ""},
        {"c5.x[2", true, 5, "x[2", -1, ""},
        {"c5.x[$A]", true, 5, "x", 10, ""},
        {"c5.x[ 4]", true, 5, "x", 4, ""},
        {"c5.x[4 ]", true, 5, "x[4 ]", -1, ""},
        {"c5.a.b", true, 5, "a.b", -1, ""},
        {"c$10.x", true, 16, "x", -1, ""},
        {"c-3.x", true, -3, "x", -1, ""},
        {"c 5.x", true, 5, "x", -1, ""},
        {"c5.x=abc", true, 5, "x", -1, ""},
        {"c5.x=1,5", true, 5, "x", -1, ""},
        {"c5.x= 1.5", true, 5, "x", -1, " 1.5"},
        {"c5.x=-1.5e3", true, 5, "x", -1, "-1.5e3"},
        {"c5.x=1=2", true, 5, "x", -1, ""},
        {"c5.x\\=3", true, 5, "x", -1, "3"},
        {"c5.a\\b\\=3", true, 5, "a\\b\\", -1, "3"},
        {"c5.x[1]\\=2.5", true, 5, "x", 1, "2.5"},
        {"c5.", true, 5, "", -1, ""},
        {"c.x", false, 0, "", 0, ""},
        {"d5.x", false, 0, "", 0, ""},
        {"c5x", false, 0, "", 0, ""},
        {"", false, 0, "", 0, ""},
        {"c5 .x", false, 0, "", 0, ""},
        {"c5=1.5", false, 0, "", 0, ""},
        {"c99999999999.x", false, 0, "", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        TFullNameParts parts;
        ASSERT_EQ(ParseFullName(c.text, parts), c.ok);
        const TGadgetVar g{std::string(c.text)};
        EXPECT_EQ(g.NAD(), c.nad);
        EXPECT_EQ(g.Name(), c.name);
        EXPECT_EQ(g.ArrayIndex(), c.ok ? c.index : 0);
        EXPECT_EQ(g.WriteValue(), c.writeValue);
        EXPECT_EQ(g.FullName(), c.ok ? c.text : "");
        EXPECT_EQ(g.ReadReq(), c.ok);
        EXPECT_EQ(g.WriteReq(), std::string(c.writeValue) != "");
        EXPECT_EQ(g.IsArray(), !c.ok || c.index >= 0);  // an unparsed name keeps index 0
        EXPECT_EQ(g.ZeltoVar(), nullptr);
    }
}

TEST(GadgetVar, StoringConstructorTakesValuesUnchecked) {
    const TGadgetVar g("c7.arr", "arr[", 7, 0, "abc");
    EXPECT_EQ(g.FullName(), "c7.arr");
    EXPECT_EQ(g.Name(), "arr[");
    EXPECT_EQ(g.NAD(), 7);
    EXPECT_TRUE(g.IsArray());
    EXPECT_TRUE(g.ReadReq());
    EXPECT_TRUE(g.WriteReq());
    EXPECT_EQ(g.WriteValue(), "abc");
    EXPECT_FALSE(TGadgetVar("c7.a", "a", 7, -1, "").WriteReq());
}

TEST(GadgetVar, CanonicalFullNames) {
    EXPECT_EQ(BuildFullName(1000, *MakeVar(vtReal, "level")), "c1000.level");
    EXPECT_EQ(BuildFullName(1000, *MakeVar(vtWord, "table", 5, 3)), "c1000.table[3]");
    EXPECT_EQ(BuildFullName(-1, *MakeVar(vtWord, "one", 1, 0)), "c-1.one");
}

TEST(GadgetVar, BindingAppliesTheWriteTextsEachTypeAccepts) {
    const Variant kept(int32_t{-99});
    const struct {
        TZeltoVarTyp typ;
        const char* text;
        Variant written;  // `kept` when the type refuses the text
    } cases[] = {
        {vtBit, "1", Variant(uint8_t{1})},        {vtBit, "0", Variant(uint8_t{0})},
        {vtBit, "$1", Variant(uint8_t{1})},       {vtBit, "2", kept},
        {vtBit, "256", kept},                      {vtBit, "-1", kept},
        {vtBit, "1.0", kept},                      {vtWord, "65535", Variant(uint16_t{65535})},
        {vtWord, " 12", Variant(uint16_t{12})},    {vtWord, "65536", kept},
        {vtWord, "-1", kept},                      {vtWord, "12 ", kept},
        {vtInt, "-32768", Variant(int16_t{-32768})}, {vtInt, "32767", Variant(int16_t{32767})},
        {vtInt, "-32769", kept},                   {vtInt, "32768", kept},
        {vtLong, "-2147483648", Variant(int32_t{-2147483647 - 1})}, {vtLong, "$FFFFFFFF", Variant(int32_t{-1})},
        {vtLong, "2147483648", kept},              {vtLong, "1.0", kept},
        {vtLong, "1e3", kept},                     {vtReal, "0", Variant(0.0)},
        {vtReal, "-0", Variant(-0.0)},             {vtReal, "1.5", Variant(1.5)},
        {vtReal, "0.1", Variant(static_cast<double>(0.1f))}, {vtReal, "-2.5E2", Variant(-250.0)},
        {vtReal, "3.4e38", Variant(static_cast<double>(3.4e38f))}, {vtReal, "3.5e38", kept},
        {vtReal, "1e39", kept},                    {vtReal, "-1e39", kept},
        {vtReal, "1e400", kept},                   {vtReal, "3.4028235e38", kept},
        {vtReal, "1e-46", Variant(0.0)},           {vtReal, "1.4e-45", kept},
        {vtReal, "3e-45", Variant(static_cast<double>(std::bit_cast<float>(2u)))},
        {vtReal, "1,5", kept},                     {vtReal, "$10", kept},
        {vtTimer, "5", kept},                      {vtCounter, "5", kept},
        {vtVoid, "5", kept},                       {vtTimerBit, "1", kept},
        {vtNone, "5", kept},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.typ << " text '" << c.text << "'");
        auto v = MakeVar(c.typ);
        v->SetValue(c.typ == vtReal ? Variant(-99.0) : kept);
        const Variant before = v->Value();
        TGadgetVar g("c1.x", "x", 1, -1, c.text);
        g.SetZeltoVar(v.get());
        EXPECT_EQ(g.ZeltoVar(), v.get());
        if (c.written == kept) {
            EXPECT_EQ(v->Value(), before);
        } else {
            EXPECT_EQ(v->Value(), c.written);
        }
        EXPECT_FALSE(v->WriteReq());
        EXPECT_TRUE(g.WriteReq());
        EXPECT_EQ(g.WriteValue(), c.text);
    }
}

TEST(GadgetVar, BindingSetsTheElementIndexAndUnbindingChangesNothing) {
    auto v = MakeVar(vtWord, "tab", 4, 0);
    TGadgetVar element("c1.tab[2]");
    element.SetZeltoVar(v.get());
    EXPECT_EQ(v->ArrayIndex(), 2);
    EXPECT_EQ(v->RealAddress(), 0x40 + 2 * 2);

    TGadgetVar plain("c1.tab");
    plain.SetZeltoVar(v.get());
    EXPECT_EQ(v->ArrayIndex(), 2);

    // A write text is applied only while WriteReq is set; binding nullptr just unbinds.
    TGadgetVar written("c1.tab=9");
    written.SetWriteReq(false);
    written.SetZeltoVar(v.get());
    EXPECT_EQ(v->Value(), Variant(uint16_t{0}));
    written.SetZeltoVar(nullptr);
    EXPECT_EQ(written.ZeltoVar(), nullptr);
    EXPECT_EQ(v->Value(), Variant(uint16_t{0}));
}

TEST(GadgetVarList, PositionsNamesAndBinding) {
    TZeltoVarList vars;
    TGadgetVarList list = BoundList({"c1.a", "c2.b", "c1.c", "c1.a"}, vtWord, vars);
    EXPECT_EQ(list.NAD(), 0);
    EXPECT_EQ(list.GetItem(list.Count()), nullptr);
    EXPECT_EQ(list.GetByIndex(list.Count()), nullptr);
    EXPECT_EQ(list.GetByIndex(-1), nullptr);
    EXPECT_EQ(list.GetByIndex(2), list.Items(2));
    EXPECT_EQ(list.GetByFullName("c1.a"), list.Items(0));
    EXPECT_EQ(list.GetByFullName("C1.a"), nullptr);
    EXPECT_EQ(list.GetByFullName("c1.d"), nullptr);
    EXPECT_TRUE(list.AllTagsOk());

    list.ClearZeltoVarReferencesByNAD(1);
    EXPECT_EQ(list.Items(0)->ZeltoVar(), nullptr);
    EXPECT_NE(list.Items(1)->ZeltoVar(), nullptr);
    EXPECT_FALSE(list.AllTagsOk());
    list.ClearZeltoVarReferences();
    EXPECT_EQ(list.Items(1)->ZeltoVar(), nullptr);

    EXPECT_TRUE(TGadgetVarList().AllTagsOk());
    TGadgetVarList withHole;
    withHole.Add(nullptr);
    EXPECT_FALSE(withHole.AllTagsOk());
    withHole.ClearZeltoVarReferences();
    withHole.Clear();
    EXPECT_EQ(withHole.Count(), 0);
}

TEST(GadgetVarList, BorrowingListsLeaveTheEntriesToTheirOwner) {
    TGadgetVarList owner;
    TGadgetVar* a = owner.Items(owner.Add(std::make_unique<TGadgetVar>("c1.a=1")));
    {
        TGadgetVarList readList(TListOwnership::Borrows);
        TGadgetVarList writeList(TListOwnership::Borrows);
        readList.Add(a);
        writeList.Add(a);
        EXPECT_THROW(readList.Add(std::make_unique<TGadgetVar>("c1.b")), std::logic_error);
        readList.ClearWithoutFreeing();
        writeList.Clear();
    }
    EXPECT_EQ(owner.Items(0)->FullName(), "c1.a=1");
    EXPECT_THROW(owner.Add(a), std::logic_error);
    EXPECT_THROW(owner.ClearWithoutFreeing(), std::logic_error);
    EXPECT_EQ(owner.Remove(a), 0);
    EXPECT_EQ(owner.Remove(a), -1);
}

TEST(GadgetVarList, NumberAccessors) {
    TZeltoVarList vars;
    TGadgetVarList list;
    const TZeltoVarTyp types[] = {vtReal, vtWord, vtTimer, vtInt};
    for (TZeltoVarTyp t : types) {
        TGadgetVar* g = list.Items(list.Add(std::make_unique<TGadgetVar>("c1.v" + std::to_string(t))));
        g->SetZeltoVar(vars.Items(vars.Add(MakeVar(t))));
    }
    list.Items(0)->ZeltoVar()->SetZeltoValue(0x3FC00000);  // 1.5
    list.Items(1)->ZeltoVar()->SetZeltoValue(65535);
    list.Items(2)->ZeltoVar()->SetZeltoValue(7);
    list.Items(3)->ZeltoVar()->SetZeltoValue(0xFFFF);
    list.Add(std::make_unique<TGadgetVar>("c1.unbound"));

    int32_t i = 123;
    double d = 123;
    EXPECT_TRUE(list.ReadValueInt(0, i));
    EXPECT_EQ(i, 0x3FC00000);
    EXPECT_TRUE(list.ReadValueFloat(0, d));
    EXPECT_EQ(d, 1.5);
    const double num[] = {1.5, 65535, 0, -1};
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(list.ReadNumValue(k, d));
        EXPECT_EQ(d, num[k]) << k;
        EXPECT_TRUE(list.ReadNumValue(list.Items(k)->FullName(), d));
        EXPECT_EQ(d, num[k]) << k;
    }
    EXPECT_TRUE(list.ReadValueFloat(2, d));
    EXPECT_EQ(d, 7);  // a timer's Value is its raw form, its ValueInt 0

    i = 123;
    d = 123;
    EXPECT_FALSE(list.ReadValueInt(4, i));
    EXPECT_FALSE(list.ReadValueInt(5, i));
    EXPECT_FALSE(list.ReadValueFloat(4, d));
    EXPECT_FALSE(list.ReadNumValue(4, d));
    EXPECT_FALSE(list.ReadNumValue("c1.unbound", d));
    EXPECT_FALSE(list.ReadNumValue("c1.none", d));
    EXPECT_EQ(i, 123);
    EXPECT_EQ(d, 123);
}

TEST(GadgetVarList, WriteNumValue) {
    SetFormatSettings(TFormatSettings{",", ":"});
    TZeltoVarList vars;
    TGadgetVarList list;
    TGadgetVar* word = list.Items(list.Add(std::make_unique<TGadgetVar>("c1.w")));
    word->SetZeltoVar(vars.Items(vars.Add(MakeVar(vtWord))));
    TGadgetVar* real = list.Items(list.Add(std::make_unique<TGadgetVar>("c1.r")));
    real->SetZeltoVar(vars.Items(vars.Add(MakeVar(vtReal))));
    TGadgetVar* unbound = list.Items(list.Add(std::make_unique<TGadgetVar>("c1.u")));

    list.WriteNumValue(0, Variant(70000));
    EXPECT_EQ(word->ZeltoVar()->Value(), Variant(uint16_t{4464}));
    EXPECT_TRUE(word->ZeltoVar()->WriteReq());
    EXPECT_EQ(word->WriteValue(), "70000");
    EXPECT_TRUE(word->WriteReq());

    list.WriteNumValue("c1.r", Variant(1.5));
    EXPECT_EQ(real->ZeltoVar()->Value(), Variant(1.5));
    EXPECT_EQ(real->WriteValue(), "1,5");
    EXPECT_TRUE(real->WriteReq());

    list.WriteNumValue("c1.w", Variant("12"));
    EXPECT_EQ(word->ZeltoVar()->Value(), Variant(uint16_t{12}));
    EXPECT_EQ(word->WriteValue(), "12");

    list.WriteNumValue("c1.u", Variant(3));
    list.WriteNumValue(9, Variant(3));
    EXPECT_FALSE(unbound->WriteReq());
    EXPECT_EQ(unbound->WriteValue(), "");

    real->ZeltoVar()->SetWriteReq(false);
    EXPECT_THROW(list.WriteNumValue("c1.r", Variant("abc")), EVariantError);
    EXPECT_THROW(list.WriteNumValue("c1.r", Variant(1e39)), EVariantError);
    EXPECT_EQ(real->ZeltoVar()->Value(), Variant(1.5));
    EXPECT_FALSE(real->ZeltoVar()->WriteReq());
    SetFormatSettings(TFormatSettings{});
}

TEST(GadgetVarList, StringsInTheByteStream) {
    TZeltoVarList vars;
    TGadgetVarList list = BoundList({"c1.s"}, vtLong, vars);
    TGadgetVar* g = list.Items(0);
    TZeltoVar* v = g->ZeltoVar();
    v->SetWriteReq(true);

    list.WriteString("c1.s", "AB");
    EXPECT_EQ(v->Stream(), (TByteStream{0x41, 0x42, 0x00}));
    EXPECT_TRUE(g->WriteReq());
    EXPECT_FALSE(v->WriteReq());

    const struct {
        int32_t byteCount;
        const char* text;
    } reads[] = {{3, "AB"}, {100, "AB"}, {2, "AB"}, {1, "A"}, {0, ""}, {-5, ""}};
    for (const auto& r : reads) {
        g->SetStreamByteCount(r.byteCount);
        std::string s = "old";
        EXPECT_TRUE(list.ReadString("c1.s", 0, s));
        EXPECT_EQ(s, r.text) << r.byteCount;
    }

    // Characters up to U+00FF are one byte each; anything above is "?".
    list.WriteString("c1.s", "é€😀x");
    EXPECT_EQ(v->Stream(), (TByteStream{0xE9, '?', '?', 'x', 0x00}));
    g->SetStreamByteCount(5);
    std::string s;
    EXPECT_TRUE(list.ReadString("c1.s", 0, s));
    EXPECT_EQ(s, "é??x");

    // At most 1024 bytes are read, whatever the stream holds.
    v->Stream().assign(1500, 'z');
    g->SetStreamByteCount(2000);
    EXPECT_TRUE(list.ReadString("c1.s", 0, s));
    EXPECT_EQ(s, std::string(1024, 'z'));

    EXPECT_FALSE(list.ReadString("c1.none", 0, s));
    EXPECT_EQ(s, "?");
    list.WriteString("c1.none", "x");
}

TEST(GadgetVarList, ReadToStreamNeedsTheExpectedSize) {
    TZeltoVarList vars;
    TGadgetVarList list = BoundList({"c1.s"}, vtWord, vars);
    list.Add(std::make_unique<TGadgetVar>("c1.unbound"));
    list.Items(0)->ZeltoVar()->Stream() = {1, 2, 3};
    const struct {
        int32_t byteCount;
        bool copied;
    } cases[] = {{3, true}, {2, false}, {4, false}, {-1, false}};
    for (const auto& c : cases) {
        list.Items(0)->SetStreamByteCount(c.byteCount);
        const std::optional<TByteStream> copy = list.ReadToStream("c1.s");
        ASSERT_EQ(copy.has_value(), c.copied) << c.byteCount;
        if (copy) {
            EXPECT_EQ(*copy, (TByteStream{1, 2, 3}));
        }
    }
    EXPECT_FALSE(list.ReadToStream("c1.unbound").has_value());
    EXPECT_FALSE(list.ReadToStream("c1.none").has_value());
}

// The way a proxy uses the model: an ALC, a request naming elements with write values, binding by name and
// index, and the values the controller would be sent.
TEST(GadgetVarList, RequestBoundToAnAlc) {
    TZeltoVarList vars;
    vars.LoadFromStr({";CPU Zelto-2 ", "0010 2 4 0 2 global word tab Step table", "0020 0 1 0 4 global real level",
                      "0030 3 1 0 2 global word limit Read-only: flags bit 0"},
                     10);
    TGadgetVarList request;
    for (const char* n : {"c10.tab[2]=7", "c10.level=2.5", "c10.tab[9]", "c11.level", "c10.tab", "c10.limit=5"})
        request.Add(std::make_unique<TGadgetVar>(n));
    for (TZeltoVar* v : vars)
        for (TGadgetVar* g : request) {
            if (g->NAD() == 10 && g->Name() == v->Name() && g->ArrayIndex() < v->ArrayCount() &&
                (v->ArrayIndex() == g->ArrayIndex() || (!g->IsArray() && v->ArrayIndex() == 0)))
                g->SetZeltoVar(v);
        }
    EXPECT_EQ(request.Items(0)->ZeltoVar(), vars.Items(2));
    EXPECT_EQ(vars.Items(2)->ZeltoValue(), 7);
    EXPECT_EQ(vars.Items(2)->RealAddress(), 0x14);
    EXPECT_EQ(static_cast<uint32_t>(request.Items(1)->ZeltoVar()->ZeltoValue()), 0x40200000u);
    EXPECT_EQ(request.Items(2)->ZeltoVar(), nullptr);
    EXPECT_EQ(request.Items(3)->ZeltoVar(), nullptr);
    EXPECT_EQ(request.Items(4)->ZeltoVar(), vars.Items(0));
    EXPECT_EQ(request.Items(5)->ZeltoVar(), vars.Items(5));
    EXPECT_EQ(vars.Items(5)->ZeltoValue(), 0) << "a read-only variable is never written";
    EXPECT_FALSE(request.AllTagsOk());
    EXPECT_EQ(BuildFullName(10, *vars.Items(3)), "c10.tab[3]");
}
