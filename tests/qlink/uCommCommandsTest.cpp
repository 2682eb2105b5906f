// The controller commands over a scripted controller: request bytes, answer parsing and short answers,
// the block arithmetic of ReadToStream, the code header and file table, and the ALC archive search.
#include <gtest/gtest.h>

#include "qlink/ScriptedController.h"
#include "qlink/hCodeMemory.h"

using namespace zelto;
using namespace std::chrono_literals;
using zelto::test::TCodeImage;
using zelto::test::TFakeUDPSocket;
using zelto::test::TScriptedController;
using zelto::test::TSeenRequest;

namespace {

using TBytes = std::vector<uint8_t>;

class CommandsTest : public zelto::test::TScriptedCommTest {
protected:
    void SetUp() override {
        TScriptedCommTest::SetUp();
        fComm->SetPasswordCRC(0xBEEF);
    }
    // Answers every request with the same data.
    void AnswerWith(TBytes data) {
        Script([data](const TSeenRequest&) { return data; });
    }
    void ServeCode() { Script(fImage.CodeReader()); }
    std::string Stream(uint32_t Address, std::size_t Count) const {
        std::string s;
        for (std::size_t i = 0; i < Count; ++i) s.push_back(static_cast<char>(fImage.At(Address + static_cast<uint32_t>(i))));
        return s;
    }

    TCodeImage fImage;
};

TBytes HeaderBytes(const TCodeHeader& h) {
    TBytes b(sizeof(TCodeHeader));
    EncodeCodeHeader(h, std::span<uint8_t, sizeof(TCodeHeader)>(b.data(), b.size()));
    return b;
}

TCodeHeader ValidHeader(int32_t date, int32_t fileAdr, uint16_t fileCount) {
    TCodeHeader h;
    h.magic = kCodeHeaderMagic;
    h.transfer_date = date;
    h.file_adr = fileAdr;
    h.file_count = fileCount;
    return h;
}

TBytes Entry(const std::string& name, int32_t address, int32_t size, int nameLength = -1) {
    TCodeFileDescriptor d;
    std::copy(name.begin(), name.end(), d.file_name);
    d.name_length = static_cast<uint16_t>(nameLength >= 0 ? nameLength : static_cast<int>(name.size()));
    d.file_address = address;
    d.file_size = size;
    TBytes b(sizeof(TCodeFileDescriptor));
    EncodeCodeFileDescriptor(d, std::span<uint8_t, sizeof(TCodeFileDescriptor)>(b.data(), b.size()));
    return b;
}

TBytes Join(std::initializer_list<TBytes> parts) {
    TBytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

}  // namespace

TEST_F(CommandsTest, RequestBytesOfEveryCommand) {
    // Each request is answered with as many data bytes as its command's answer carries.
    Script([](const TSeenRequest& r) {
        TFrameBuffer frame{};
        std::copy(r.Data.begin(), r.Data.end(), frame.begin());
        auto len = static_cast<uint16_t>(r.Data.size());
        BuildFrame(kServerNAD, r.ReceiverNAD, r.Command, kDirectionRequest, 0, frame, len, 0);
        return TBytes(static_cast<std::size_t>(AnswerDataSize(std::span<const uint8_t>(frame.data(), len))));
    });
    const uint16_t addresses[] = {0x0102, 0x0304, 0x0506};
    const TBytes values = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    const TBytes block = {0xA1, 0xA2, 0xA3};
    struct Case {
        const char* Name;
        std::function<bool()> Call;
        uint8_t Command;
        TBytes Data;
    };
    TSysStatus sys{};
    TPLCStatus plc{};
    TBytes buf(1040);
    const std::vector<Case> cases = {
        {"Ping", [&] { return fComm->Ping(); }, 0x10, {}},
        {"ReadStatus", [&] { return fComm->ReadStatus(sys, plc); }, 0x11, {}},
        {"FlashInit", [&] { return fComm->FlashInit(0x0F, 0x01); }, 0x20, {0x0F, 0x01}},
        {"ReadCode", [&] { return fComm->ReadCode(0x0201, 16, buf); }, 0x21, {0x01, 0x02, 0x10, 0x00}},
        {"WriteCode", [&] { return fComm->WriteCode(0x0005, 3, block); }, 0x22, {0x05, 0x00, 0x03, 0x00, 0xA1, 0xA2, 0xA3}},
        {"DataInit", [&] { return fComm->DataInit(); }, 0x30, {}},
        {"ReadData", [&] { return fComm->ReadData(0x1234, 2, buf); }, 0x31, {0x34, 0x12, 0x02, 0x00}},
        {"WriteData", [&] { return fComm->WriteData(0xFFFE, 2, block); }, 0x32, {0xFE, 0xFF, 0x02, 0x00, 0xA1, 0xA2}},
        {"ReadRandom", [&] { return fComm->ReadRandom(1, 1, 1, addresses, buf); }, 0x33,
         {1, 0, 1, 0, 1, 0, 0x02, 0x01, 0x04, 0x03, 0x06, 0x05}},
        {"WriteRandom", [&] { return fComm->WriteRandom(1, 1, 1, addresses, values); }, 0x34,
         {1, 0, 1, 0, 1, 0, 0x02, 0x01, 0x04, 0x03, 0x06, 0x05, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77}},
    };
    for (const auto& c : cases) {
        fController->ClearRequests();
        EXPECT_TRUE(c.Call()) << c.Name;
        const auto seen = fController->Requests();
        ASSERT_EQ(seen.size(), 1u) << c.Name;
        EXPECT_EQ(seen[0].Command, c.Command) << c.Name;
        EXPECT_EQ(seen[0].Data, c.Data) << c.Name;
        EXPECT_EQ(seen[0].ReceiverNAD, 10) << c.Name;
        EXPECT_EQ(seen[0].PasswordCRC, 0xBEEF) << c.Name;
        EXPECT_EQ(seen[0].Host, "10.1.2.255") << c.Name;
    }
    // Too few data bytes for the block, or counts beyond the address list: refused before sending.
    fController->ClearRequests();
    EXPECT_FALSE(fComm->WriteCode(0, 4, block));
    EXPECT_FALSE(fComm->ReadRandom(2, 1, 1, addresses, buf));
    EXPECT_FALSE(fComm->WriteRandom(1, 1, 2, addresses, values));
    EXPECT_FALSE(fComm->ReadRandom(-1, 0, 0, addresses, buf));
    EXPECT_TRUE(fController->Requests().empty());
}

TEST_F(CommandsTest, ReadStatusAnswers) {
    struct Case {
        TBytes Answer;
        bool Result;
        int Sys;  // -1: not written
        int Plc;
    };
    const std::vector<Case> cases = {
        {{1, 2}, true, 1, 2},        {{0, 0}, true, 0, 0},       {{2, 5}, true, 2, 5},
        {{3, 2}, false, -1, 2},      {{1, 6}, false, 1, -1},     {{9, 9}, false, -1, -1},
        {{1}, false, -1, -1},        {{}, false, -1, -1},
        {{1, 2, 7, 7}, false, -1, -1},  // longer than a status: another command's answer, never taken
    };
    for (const auto& c : cases) {
        AnswerWith(c.Answer);
        fComm->SetWaitTime(30);
        auto sys = static_cast<TSysStatus>(0x77);
        auto plc = static_cast<TPLCStatus>(0x77);
        EXPECT_EQ(fComm->ReadStatus(sys, plc), c.Result);
        EXPECT_EQ(static_cast<int>(sys), c.Sys < 0 ? 0x77 : c.Sys);
        EXPECT_EQ(static_cast<int>(plc), c.Plc < 0 ? 0x77 : c.Plc);
    }
}

TEST_F(CommandsTest, CheckIfZeltoIsRunningTriesFiveTimes) {
    struct Case {
        std::vector<TBytes> Answers;  // one per ReadStatus; the last repeats
        bool Running;
        std::size_t Requests;
    };
    const std::vector<Case> cases = {
        {{{1, 2}}, true, 1},
        {{{1, 0}}, false, 1},              // answered: stopped
        {{{0, 2}}, false, 1},              // loader
        {{{7, 2}, {7, 2}, {7, 2}, {7, 2}, {1, 2}}, true, 5},
        {{{7, 2}}, false, 5},              // never a usable answer
        {{{1}, {1, 2}}, true, 2},          // a short answer counts as failed
    };
    for (const auto& c : cases) {
        std::size_t n = 0;
        Script([&](const TSeenRequest&) { return c.Answers[std::min(n++, c.Answers.size() - 1)]; });
        EXPECT_EQ(fComm->CheckIfZeltoIsRunning(), c.Running);
        EXPECT_EQ(fController->Requests().size(), c.Requests);
    }
}

TEST_F(CommandsTest, ReadBlocksRefuseShortAnswers) {
    for (const uint8_t command : {kCmdReadCode, kCmdReadData}) {
        for (const std::size_t answered : {15u, 16u, 17u}) {
            TBytes answer(answered);
            for (std::size_t i = 0; i < answered; ++i) answer[i] = static_cast<uint8_t>(i + 1);
            AnswerWith(answer);
            TBytes buf(1040, 0xEE);
            fComm->SetWaitTime(30);
            const bool ok = command == kCmdReadCode ? fComm->ReadCode(3, 16, buf) : fComm->ReadData(3, 16, buf);
            EXPECT_EQ(ok, answered == 16) << int(command) << " " << answered;
            if (answered > 16) {
                // Longer than the block asked for: not this request's answer, so nothing is converted.
                EXPECT_EQ(buf[0], 0xEE);
                continue;
            }
            // Every converted byte lands from index 0 on; the rest of the buffer is zeroed.
            EXPECT_EQ(buf[answered - 1], answered);
            EXPECT_EQ(buf[answered], 0);
        }
    }
    TBytes small(8);
    AnswerWith(TBytes(16, 1));
    EXPECT_FALSE(fComm->ReadCode(0, 16, small));  // the buffer cannot hold the block
}

TEST_F(CommandsTest, ReadToStreamBlockArithmetic) {
    ServeCode();
    using TReads = std::vector<std::pair<int, int>>;
    struct Case {
        int32_t Address, Size;
        TReads Reads;
    };
    const std::vector<Case> cases = {
        {300, 10, {{1, 54}}},
        {250, 10, {{0, 256}, {1, 4}}},
        {0, 256, {{0, 256}}},                       // then an empty last block: no read
        {511, 1, {{1, 256}}},                       // last byte of a segment
        {512, 1, {{2, 1}}},                         // first byte of a segment
        {300, 0, {{1, 44}}},                        // nothing to take, but the block is read
        {0x20000, 16, {{512, 16}}},
        {0x20000, 1104, {{512, 256}, {513, 256}, {514, 256}, {515, 256}, {516, 80}}},
        {0xFFFF00, 256, {{0xFFFF, 256}}},           // the last segment there is
    };
    for (const auto& c : cases) {
        fController->ClearRequests();
        TMemoryStream stream = "old";
        ASSERT_TRUE(fComm->ReadToStream(c.Address, c.Size, &stream)) << c.Address << "+" << c.Size;
        EXPECT_EQ(fController->CodeReads(), c.Reads) << c.Address << "+" << c.Size;
        EXPECT_EQ(stream, Stream(static_cast<uint32_t>(c.Address), static_cast<std::size_t>(c.Size)));
    }
}

TEST_F(CommandsTest, ReadToStreamRefusesAbsurdRangesUnread) {
    ServeCode();
    struct Case {
        int32_t Address, Size;
    };
    const std::vector<Case> cases = {
        {0, -1}, {-256, 10}, {0, kMaxCodeFileSize + 1}, {0xFFFF00, 257}, {0x7FFFFFFF, 1}, {0x7FFFFF00, 0x7FFFFFFF},
    };
    for (const auto& c : cases) {
        TMemoryStream stream = "old";
        EXPECT_FALSE(fComm->ReadToStream(c.Address, c.Size, &stream)) << c.Address << "+" << c.Size;
        EXPECT_EQ(stream, "");
    }
    EXPECT_FALSE(fComm->ReadToStream(0, 10, nullptr));
    EXPECT_TRUE(fController->Requests().empty());
}

TEST_F(CommandsTest, ReadToStreamStopsAtTheFirstFailedBlockKeepingWhatCame) {
    // Blocks of segment 1 come short; the first block's bytes stay in the stream.
    Script([this](const TSeenRequest& r) -> std::optional<TBytes> {
        const auto seg = GetU16LE(r.Data, 0);
        const auto size = GetU16LE(r.Data, 2);
        auto bytes = fImage.Segment(seg, size);
        if (seg == 1) bytes.pop_back();
        return bytes;
    });
    TMemoryStream stream;
    EXPECT_FALSE(fComm->ReadToStream(200, 600, &stream));
    EXPECT_EQ(stream, Stream(200, 56));
    EXPECT_EQ(fController->CodeReads().size(), 2u);
}

TEST_F(CommandsTest, SendStreamWritesWholeSegments) {
    AnswerWith({});
    TMemoryStream data(600, '\0');
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i);
    ASSERT_TRUE(fComm->SendStream(0x020080, data));  // the low 8 bits of the address are ignored
    const auto seen = fController->Requests();
    ASSERT_EQ(seen.size(), 3u);
    const int sizes[] = {256, 256, 88};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(seen[i].Command, kCmdWriteCode);
        EXPECT_EQ(GetU16LE(seen[i].Data, 0), 0x200 + i);
        EXPECT_EQ(GetU16LE(seen[i].Data, 2), sizes[i]);
        EXPECT_EQ(seen[i].Data.size(), 4u + static_cast<std::size_t>(sizes[i]));
        EXPECT_EQ(seen[i].Data[4], static_cast<uint8_t>(i * 256));
    }
    fController->ClearRequests();
    EXPECT_TRUE(fComm->SendStream(0, TMemoryStream()));
    EXPECT_TRUE(fController->Requests().empty());
}

TEST(CodeMemory, RecordsDecodeFromTheirByteOffsets) {
    TBytes b(sizeof(TCodeHeader), 0);
    auto put16 = [&](std::size_t at, uint16_t v) { PutU16LE(b, at, v); };
    put16(0, 0);
    put16(2, 0x7AB7);
    put16(4, 0x1111);
    put16(10, 0x2222);
    PutS32LE(b, 12, 0x5A8B6C2D);
    put16(16, 0x3333);
    PutS16LE(b, 18, -2);
    PutS32LE(b, 32, -7);
    PutS16LE(b, 58, 0x4444);
    PutS32LE(b, 64, 0x00021000);
    put16(68, 3);
    b[80] = 0xD0;
    b[464] = 0x5D;
    b[1103] = 0xFF;
    const TCodeHeader h = DecodeCodeHeader(std::span<const uint8_t, sizeof(TCodeHeader)>(b.data(), b.size()));
    EXPECT_TRUE(IsValidCodeHeader(h));
    EXPECT_EQ(+h.crc, 0x1111);
    EXPECT_EQ(+h.retentive_crc, 0x2222);
    EXPECT_EQ(+h.transfer_date, 0x5A8B6C2D);
    EXPECT_EQ(+h.total_size, 0x3333);
    EXPECT_EQ(+h.tasks_count, -2);
    EXPECT_EQ(+h.master_NAD, -7);
    EXPECT_EQ(+h.dac_refresh, 0x4444);
    EXPECT_EQ(+h.file_adr, 0x21000);
    EXPECT_EQ(+h.file_count, 3);
    EXPECT_EQ(+h.data_descriptors[0], 0xD0);
    EXPECT_EQ(+h.sock_descriptors[0], 0x5D);
    EXPECT_EQ(+h.sock_descriptors[639], 0xFF);
    EXPECT_EQ(HeaderBytes(h), b);

    const TCodeHeaderShort s = DecodeCodeHeaderShort(std::span<const uint8_t, 16>(b.data(), 16));
    EXPECT_EQ(+s.magic, 31415);
    EXPECT_EQ(+s.transfer_date, 0x5A8B6C2D);
    put16(0, 1);
    EXPECT_FALSE(IsValidCodeHeader(DecodeCodeHeaderShort(std::span<const uint8_t, 16>(b.data(), 16))));

    const TBytes e = Entry("alc.zip", 0x30000, -5);
    EXPECT_EQ(e[0], 'a');
    EXPECT_EQ(GetU16LE(e, 32), 7);
    EXPECT_EQ(GetS32LE(e, 34), 0x30000);
    EXPECT_EQ(GetS32LE(e, 38), -5);
    const auto d = DecodeCodeFileDescriptor(std::span<const uint8_t, 46>(e.data(), e.size()));
    EXPECT_EQ(CodeFileName(d), "alc.zip");
    EXPECT_EQ(+d.file_size, -5);
    for (const int bad : {0, 33}) {
        const TBytes x = Entry("alc.zip", 0, 1, bad);
        EXPECT_EQ(CodeFileName(DecodeCodeFileDescriptor(std::span<const uint8_t, 46>(x.data(), x.size()))), "");
    }
}

TEST_F(CommandsTest, CheckCodeAndTransferDate) {
    ServeCode();
    fImage.Place(kCodeHeaderAddress, HeaderBytes(ValidHeader(0x12345678, 0, 0)));
    EXPECT_TRUE(fComm->CheckCode());
    EXPECT_EQ(fController->CodeReads(), (std::vector<std::pair<int, int>>{{512, 16}}));
    EXPECT_FALSE(fComm->CheckDateNotChanged());  // first look: 0 was known
    EXPECT_EQ(fComm->TransferDate(), 0x12345678);
    EXPECT_TRUE(fComm->CheckDateNotChanged());

    fImage.Place(kCodeHeaderAddress + 12, {0x79, 0x56, 0x34, 0x12});
    EXPECT_FALSE(fComm->CheckDateNotChanged());
    EXPECT_EQ(fComm->TransferDate(), 0x12345679);

    // magic right, empty word 1: no program, and the known date stays.
    fImage.Place(kCodeHeaderAddress, {0x01, 0x00});
    EXPECT_FALSE(fComm->CheckCode());
    EXPECT_FALSE(fComm->CheckDateNotChanged());
    EXPECT_EQ(fComm->TransferDate(), 0x12345679);
}

TEST_F(CommandsTest, HeaderReadsAreTriedFiveTimes) {
    int n = 0;
    int goodFrom = 0;
    fImage.Place(kCodeHeaderAddress, HeaderBytes(ValidHeader(7, 0, 0)));
    Script([&](const TSeenRequest& r) -> std::optional<TBytes> {
        auto bytes = fImage.Segment(GetU16LE(r.Data, 0), GetU16LE(r.Data, 2));
        if (++n < goodFrom) bytes.pop_back();  // a short answer is a failed read
        return bytes;
    });
    goodFrom = 5;
    EXPECT_TRUE(fComm->CheckCode());
    EXPECT_EQ(n, 5);
    n = 0;
    goodFrom = 6;
    EXPECT_FALSE(fComm->CheckCode());
    EXPECT_EQ(n, 5);
    n = 0;
    EXPECT_FALSE(fComm->CheckDateNotChanged());
    EXPECT_EQ(fComm->TransferDate(), 0);
}

TEST_F(CommandsTest, ReadCodeHeaderHandsOutTheRecord) {
    ServeCode();
    TCodeHeader h = ValidHeader(0x0BADCAFE, 0x21000, 2);
    h.sock_descriptors[639] = 0x42;
    fImage.Place(kCodeHeaderAddress, HeaderBytes(h));
    std::unique_ptr<TCodeHeader> read;
    ASSERT_TRUE(fComm->ReadCodeHeader(read));
    ASSERT_NE(read, nullptr);
    EXPECT_EQ(HeaderBytes(*read), HeaderBytes(h));
    EXPECT_EQ(fController->CodeReads().size(), 5u);
    std::unique_ptr<TCodeHeaderShort> shortHeader;
    ASSERT_TRUE(fComm->ReadCodeHeaderShort(shortHeader));
    EXPECT_EQ(+shortHeader->transfer_date, 0x0BADCAFE);
}

TEST_F(CommandsTest, ReadAlcFindsTheExactNameAndSkipsEmptyEntries) {
    ServeCode();
    const TBytes zip = {'P', 'K', 3, 4, 9, 8, 7};
    const TBytes decoy = {'N', 'O'};
    fImage.Place(0x30000, zip);
    fImage.Place(0x30100, decoy);
    struct Case {
        const char* Name;
        TBytes Table;
        bool Found;
    };
    const std::vector<Case> cases = {
        {"capitals first", Join({Entry("ALC.ZIP", 0x30100, 2), Entry("alc.zip", 0x30000, 7)}), true},
        {"zero size skipped", Join({Entry("alc.zip", 0x30100, 0), Entry("alc.zip", 0x30000, 7)}), true},
        {"negative size skipped", Join({Entry("alc.zip", 0x30100, -2), Entry("alc.zip", 0x30000, 7)}), true},
        {"name length 0 skipped", Join({Entry("alc.zip", 0x30100, 2, 0xFFFF), Entry("alc.zip", 0x30000, 7)}), true},
        {"first match wins", Join({Entry("alc.zip", 0x30000, 7), Entry("alc.zip", 0x30100, 2)}), true},
        {"longer name", Join({Entry("alc.zip.bak", 0x30100, 2)}), false},
        {"only others", Join({Entry("prog.bin", 0x30100, 2), Entry("Alc.zip", 0x30100, 2)}), false},
    };
    for (const auto& c : cases) {
        const auto count = static_cast<uint16_t>(c.Table.size() / 46);
        fImage.Place(kCodeHeaderAddress, HeaderBytes(ValidHeader(0x600D, 0x21003, count)));
        fImage.Place(0x21003, c.Table);
        auto alc = std::make_unique<TMemoryStream>("stale");
        EXPECT_EQ(fComm->ReadAlc(alc), c.Found) << c.Name;
        if (c.Found) {
            ASSERT_NE(alc, nullptr) << c.Name;
            EXPECT_EQ(*alc, std::string(zip.begin(), zip.end())) << c.Name;
        } else {
            EXPECT_EQ(alc, nullptr) << c.Name;
        }
        EXPECT_EQ(fComm->TransferDate(), 0x600D);
    }
}

TEST_F(CommandsTest, ReadAlcRefusesAbsurdTablesAndInvalidHeaders) {
    ServeCode();
    fImage.Place(0x21000, Entry("alc.zip", 0x30000, kMaxCodeFileSize + 1));
    struct Case {
        const char* Name;
        TCodeHeader Header;
        std::size_t Reads;    // header 5, table, file
        bool StreamCreated;
    };
    TCodeHeader invalid = ValidHeader(9, 0x21000, 1);
    invalid.empty = 1;
    const std::vector<Case> cases = {
        {"no files", ValidHeader(9, 0x21000, 0), 5, false},
        {"invalid header", invalid, 5, false},
        {"1001 entries", ValidHeader(9, 0x21000, 1001), 5, false},
        {"table beyond code memory", ValidHeader(9, 0x7FFFFF00, 1), 5, false},
        {"file over 16 MiB", ValidHeader(9, 0x21000, 1), 6, true},
    };
    for (const auto& c : cases) {
        fImage.Place(kCodeHeaderAddress, HeaderBytes(c.Header));
        fController->ClearRequests();
        std::unique_ptr<TMemoryStream> alc;
        EXPECT_FALSE(fComm->ReadAlc(alc)) << c.Name;
        EXPECT_EQ(fController->CodeReads().size(), c.Reads) << c.Name;
        EXPECT_EQ(alc != nullptr, c.StreamCreated) << c.Name;
    }
    // 1000 entries are read (180 blocks): a big table, but a possible one.
    fImage.Place(kCodeHeaderAddress, HeaderBytes(ValidHeader(9, 0x40000, 1000)));
    fController->ClearRequests();
    std::unique_ptr<TMemoryStream> alc;
    EXPECT_FALSE(fComm->ReadAlc(alc));
    EXPECT_EQ(fController->CodeReads().size(), 5u + 180u);
}

TEST_F(CommandsTest, ReadAlcKeepsThePartOfTheFileThatCame) {
    fImage.Place(kCodeHeaderAddress, HeaderBytes(ValidHeader(9, 0x21000, 1)));
    fImage.Place(0x21000, Entry("alc.zip", 0x30000, 600));
    Script([this](const TSeenRequest& r) -> std::optional<TBytes> {
        const auto seg = GetU16LE(r.Data, 0);
        if (seg == 0x301) return std::nullopt;  // the file's second block never comes
        return fImage.Segment(seg, GetU16LE(r.Data, 2));
    });
    fComm->SetNoRetries(1);
    std::unique_ptr<TMemoryStream> alc;
    EXPECT_FALSE(fComm->ReadAlc(alc));
    ASSERT_NE(alc, nullptr);
    EXPECT_EQ(*alc, Stream(0x30000, 256));
}

TEST_F(CommandsTest, FlashInitWaitsLongerForOneExchangeOnly) {
    // An answer after 700 ms is in time for FlashInit's first attempt; the wait is 500 ms afterwards.
    fSocket->SetResponder([](TFakeUDPSocket& s, const zelto::test::TSentDatagram&, int) {
        s.Inject(BuildAnswerFrame(10, 1, 0, {}), "10.1.2.7", 700ms);
    });
    EXPECT_TRUE(fComm->FlashInit(1, 0));
    EXPECT_EQ(fSocket->Sent().size(), 1u);
    EXPECT_EQ(fComm->WaitTime(), 500);
}
