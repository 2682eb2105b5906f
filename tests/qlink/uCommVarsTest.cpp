// Random-access variable transfer over a scripted controller: chunks of 100, the three passes by item
// size, value hand-back, short answers, and write requests cleared chunk by chunk.
#include <gtest/gtest.h>

#include "qlink/ScriptedController.h"

using namespace zelto;
using zelto::test::TSeenRequest;

namespace {

using TBytes = std::vector<uint8_t>;

struct TRandomRequest {
    int Count1 = 0, Count2 = 0, Count4 = 0;
    std::vector<uint16_t> Addresses;
    TBytes Values;  // write requests only
};

TRandomRequest DecodeRandom(const TSeenRequest& r) {
    TRandomRequest d;
    d.Count1 = GetU16LE(r.Data, 0);
    d.Count2 = GetU16LE(r.Data, 2);
    d.Count4 = GetU16LE(r.Data, 4);
    const std::size_t n = static_cast<std::size_t>(d.Count1 + d.Count2 + d.Count4);
    for (std::size_t i = 0; i < n; ++i) d.Addresses.push_back(GetU16LE(r.Data, 6 + 2 * i));
    d.Values.assign(r.Data.begin() + static_cast<long>(6 + 2 * n), r.Data.end());
    return d;
}

// A data memory behind the scripted controller: ReadRandom answers from it, WriteRandom stores into it.
class TDataMemory {
public:
    TBytes Memory = TBytes(0x10000, 0);
    int AnswerShortBy = 0;

    std::optional<TBytes> operator()(const TSeenRequest& r) {
        const TRandomRequest d = DecodeRandom(r);
        std::size_t at = 0;
        TBytes answer;
        auto item = [&](uint16_t address, int size) {
            for (int b = 0; b < size; ++b) {
                const std::size_t cell = (address + static_cast<std::size_t>(b)) & 0xFFFF;
                if (r.Command == kCmdReadRandom)
                    answer.push_back(Memory[cell]);
                else
                    Memory[cell] = d.Values[at++];
            }
        };
        std::size_t i = 0;
        for (int k = 0; k < d.Count1; ++k) item(d.Addresses[i++], 1);
        for (int k = 0; k < d.Count2; ++k) item(d.Addresses[i++], 2);
        for (int k = 0; k < d.Count4; ++k) item(d.Addresses[i++], 4);
        answer.resize(answer.size() - std::min<std::size_t>(answer.size(), static_cast<std::size_t>(AnswerShortBy)));
        return answer;
    }
};

class VarsTest : public zelto::test::TScriptedCommTest {
protected:
    void SetUp() override {
        TScriptedCommTest::SetUp();
        Script([this](const TSeenRequest& r) { return fMemory(r); });
    }
    TZeltoVar* Add(TZeltoVarTyp typ, int32_t address) {
        auto v = std::make_unique<TZeltoVar>("v" + std::to_string(fList.Count()), address, VarTypTransferBytes(typ), 1,
                                             0, 0, vsGlobal, typ, vvUser, vaReadWrite, "", Variant(int32_t{0}));
        TZeltoVar* raw = v.get();
        fList.Add(std::move(v));
        return raw;
    }
    std::vector<TRandomRequest> Exchanges() const {
        std::vector<TRandomRequest> out;
        for (const auto& r : fController->Requests()) out.push_back(DecodeRandom(r));
        return out;
    }

    TDataMemory fMemory;
    TZeltoVarList fList;
};

}  // namespace

TEST_F(VarsTest, ListsAreCutIntoChunksOfAHundred) {
    struct Case {
        int Count;
        std::vector<std::size_t> Chunks;
    };
    const std::vector<Case> cases = {{1, {1}}, {99, {99}}, {100, {100}}, {101, {100, 1}}, {250, {100, 100, 50}}};
    for (const auto& c : cases) {
        fList.Clear();
        fController->ClearRequests();
        for (int i = 0; i < c.Count; ++i) {
            Add(vtWord, 2 * i);
            fMemory.Memory[static_cast<std::size_t>(2 * i)] = static_cast<uint8_t>(i);
            fMemory.Memory[static_cast<std::size_t>(2 * i + 1)] = 0xA0;
        }
        ASSERT_TRUE(fComm->ReadVars(&fList)) << c.Count;
        std::vector<std::size_t> chunks;
        for (const auto& e : Exchanges()) chunks.push_back(e.Addresses.size());
        EXPECT_EQ(chunks, c.Chunks) << c.Count;
        for (int i = 0; i < c.Count; ++i) EXPECT_EQ(fList.Items(i)->ZeltoValue(), 0xA000 + (i & 0xFF)) << i;
    }
}

TEST_F(VarsTest, MixedChunkIsSentAndHandedBackInThreePasses) {
    TZeltoVar* i16 = Add(vtInt, 0x10);
    TZeltoVar* bit1 = Add(vtBit, 0x20);
    TZeltoVar* real = Add(vtReal, 0x30);
    TZeltoVar* bit2 = Add(vtBit, 0x21);
    TZeltoVar* word = Add(vtWord, 0x40);
    Add(vtTimer, 0x50);  // takes part in the cut, not in the transfer
    const TBytes answer = {0x01, 0x00, 0xFF, 0xFF, 0x34, 0x12, 0x00, 0x00, 0x80, 0x3F};
    Script([&](const TSeenRequest&) { return answer; });
    ASSERT_TRUE(fComm->ReadVars(&fList));
    const auto e = Exchanges();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(fController->Requests()[0].Command, kCmdReadRandom);
    EXPECT_EQ(std::vector<int>({e[0].Count1, e[0].Count2, e[0].Count4}), std::vector<int>({2, 2, 1}));
    EXPECT_EQ(e[0].Addresses, (std::vector<uint16_t>{0x20, 0x21, 0x10, 0x40, 0x30}));
    EXPECT_EQ(bit1->ZeltoValue(), 1);
    EXPECT_EQ(bit2->ZeltoValue(), 0);
    EXPECT_EQ(i16->Value().AsInt32(), -1);  // 0xFFFF handed over as 65535; the int type gives the sign
    EXPECT_EQ(word->ZeltoValue(), 0x1234);
    EXPECT_DOUBLE_EQ(real->ValueFloat(), 1.0);
}

TEST_F(VarsTest, EdgeListsAndShortAnswers) {
    // Empty list: read succeeds without an exchange, write fails without one; no list fails both.
    EXPECT_TRUE(fComm->ReadVars(&fList));
    EXPECT_FALSE(fComm->WriteVars(&fList));
    EXPECT_FALSE(fComm->ReadVars(nullptr));
    EXPECT_FALSE(fComm->WriteVars(nullptr));
    EXPECT_TRUE(fController->Requests().empty());

    // Only timers and counters: one request with three counts of 0.
    Add(vtTimer, 0);
    Add(vtCounter, 4);
    ASSERT_TRUE(fComm->ReadVars(&fList));
    ASSERT_EQ(fController->Requests().size(), 1u);
    EXPECT_EQ(fController->Requests()[0].Data, TBytes(6, 0));

    // An answer one byte short fails the chunk and changes none of its variables.
    fList.Clear();
    TZeltoVar* a = Add(vtLong, 0x100);
    TZeltoVar* b = Add(vtBit, 0x104);
    a->SetZeltoValue(11);
    b->SetZeltoValue(1);
    fMemory.Memory[0x100] = 0x55;
    fMemory.AnswerShortBy = 1;
    EXPECT_FALSE(fComm->ReadVars(&fList));
    EXPECT_EQ(a->ZeltoValue(), 11);
    EXPECT_EQ(b->ZeltoValue(), 1);
}

TEST_F(VarsTest, WriteVarsSendsValuesInPassOrderAndClearsWriteReq) {
    TZeltoVar* word = Add(vtWord, 0x10);
    TZeltoVar* bit = Add(vtBit, 0x20);
    TZeltoVar* lng = Add(vtLong, 0x30);
    TZeltoVar* in = Add(vtInt, 0x40);
    word->ValueForPLC(Variant(int32_t{0xBEEF}));
    bit->ValueForPLC(Variant(int32_t{1}));
    lng->ValueForPLC(Variant(int32_t{-2}));
    in->ValueForPLC(Variant(int32_t{-300}));
    ASSERT_TRUE(fComm->WriteVars(&fList));
    const auto e = Exchanges();
    ASSERT_EQ(e.size(), 1u);
    EXPECT_EQ(fController->Requests()[0].Command, kCmdWriteRandom);
    EXPECT_EQ(e[0].Addresses, (std::vector<uint16_t>{0x20, 0x10, 0x40, 0x30}));
    EXPECT_EQ(e[0].Values, (TBytes{0x01, 0xEF, 0xBE, 0xD4, 0xFE, 0xFE, 0xFF, 0xFF, 0xFF}));
    for (const TZeltoVar* v : fList) EXPECT_FALSE(v->WriteReq());
}

TEST_F(VarsTest, FailedWriteClearsItsChunkAndLeavesLaterChunksPending) {
    for (int i = 0; i < 250; ++i) Add(vtBit, i)->ValueForPLC(Variant(int32_t{1}));
    int n = 0;
    Script([&](const TSeenRequest&) -> std::optional<TBytes> {
        if (++n == 2) return std::nullopt;  // the second chunk is never answered
        return TBytes{};
    });
    fComm->SetNoRetries(1);
    EXPECT_FALSE(fComm->WriteVars(&fList));  // one wait of 500 ms for the silent chunk
    EXPECT_EQ(n, 2);
    for (int i = 0; i < 250; ++i) EXPECT_EQ(fList.Items(i)->WriteReq(), i >= 200) << i;
}

TEST_F(VarsTest, WriteVarSendsTheTypesBytes) {
    struct Case {
        TZeltoVarTyp Typ;
        Variant Value;
        bool Sent;
        TBytes Data;
    };
    const std::vector<Case> cases = {
        {vtBit, Variant(int32_t{1}), true, {0x00, 0x01, 0x01, 0x00, 0x01}},
        {vtWord, Variant(int32_t{0x1234}), true, {0x00, 0x01, 0x02, 0x00, 0x34, 0x12}},
        {vtInt, Variant(int32_t{-2}), true, {0x00, 0x01, 0x02, 0x00, 0xFE, 0xFF}},
        {vtLong, Variant(int32_t{0x01020304}), true, {0x00, 0x01, 0x04, 0x00, 0x04, 0x03, 0x02, 0x01}},
        {vtReal, Variant(1.0), true, {0x00, 0x01, 0x04, 0x00, 0x00, 0x00, 0x80, 0x3F}},
        {vtTimer, Variant(int32_t{5}), true, {0x00, 0x01, 0x00, 0x00}},
        {vtWord, Variant(std::string("abc")), false, {}},
    };
    Script([](const TSeenRequest&) { return TBytes{}; });
    for (const auto& c : cases) {
        fController->ClearRequests();
        TZeltoVar v("x", 0x100, 4, 1, 0, 0, vsGlobal, c.Typ, vvUser, vaReadWrite, "", Variant(int32_t{0}));
        v.SetWriteReq(true);
        EXPECT_EQ(fComm->WriteVar(&v, c.Value), c.Sent);
        EXPECT_FALSE(v.WriteReq());
        const auto seen = fController->Requests();
        ASSERT_EQ(seen.size(), c.Sent ? 1u : 0u);
        if (c.Sent) {
            EXPECT_EQ(seen[0].Command, kCmdWriteData);
            EXPECT_EQ(seen[0].Data, c.Data);
        }
    }
    EXPECT_FALSE(fComm->WriteVar(nullptr, Variant(int32_t{1})));
}
