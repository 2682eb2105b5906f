// A simulated controller's handlers, called directly: memory commands and their bounds, random access in
// request order, the password, FlashInit, program loads and run/stop.
#include "sim/uSimController.h"

#include <gtest/gtest.h>

#include "qlink/hCodeMemory.h"
#include "qlink/uByteOrder.h"

using namespace zelto;
using namespace zelto::sim;

namespace {

using TBytes = std::vector<uint8_t>;

const char* kAlc =
    ";CPU Zelto-2 NAD 10\n"
    "0000 2 1 0 4 global real temp Tank temperature\n"
    "000C 2 1 0 1 global bit pump Pump running\n"
    "000E 2 1 0 2 global word mode Operating mode\n"
    "0010 3 1 0 4 global long cycles Pump starts\n"
    "0014 2 1 0 2 global int trim Level trim\n";

TSimRequest Request(uint8_t command, TBytes data = {}, uint16_t password = 0) {
    TSimRequest r;
    r.SenderNAD = 1;
    r.ReceiverNAD = 10;
    r.Command = command;
    r.Data = std::move(data);
    r.PasswordCRC = password;
    return r;
}

TBytes Block(uint16_t where, uint16_t size, TBytes bytes = {}) {
    TBytes d = {static_cast<uint8_t>(where), static_cast<uint8_t>(where >> 8), static_cast<uint8_t>(size),
                static_cast<uint8_t>(size >> 8)};
    for (const uint8_t b : bytes) d.push_back(b);
    return d;
}

class SimControllerTest : public ::testing::Test {
protected:
    void SetUp() override { fController.LoadProgram(fProgram); }
    // Held here too, so that its variables outlive a FlashInit.
    std::shared_ptr<const TSimProgram> fProgram = BuildSimProgram("tank.alc", kAlc, 45000.5);
    TSimController fController{10};
};

}  // namespace

TEST_F(SimControllerTest, MemoryCommandsAndTheirBounds) {
    struct Case {
        const char* Name;
        uint8_t Command;
        TBytes Data;
        std::optional<TBytes> Answer;
    };
    const std::vector<Case> cases = {
        {"write data", kCmdWriteData, Block(0x0100, 3, {1, 2, 3}), TBytes{}},
        {"read data", kCmdReadData, Block(0x00FF, 5), TBytes{0, 1, 2, 3, 0}},
        {"read data at the end", kCmdReadData, Block(0xFFFE, 2), TBytes{0, 0}},
        {"read data past the end", kCmdReadData, Block(0xFFFF, 2), std::nullopt},
        {"write data short", kCmdWriteData, Block(0x0100, 3, {1, 2}), std::nullopt},
        {"read data no head", kCmdReadData, {0x00, 0x01, 0x02}, std::nullopt},
        {"read code of the header", kCmdReadCode, Block(512, 4), TBytes{0, 0, 0xB7, 0x7A}},
        {"write code", kCmdWriteCode, Block(0xFFFF, 2, {9, 8}), TBytes{}},
        {"read code, last segment", kCmdReadCode, Block(0xFFFF, 3), TBytes{9, 8, 0}},
        {"read code past the end", kCmdReadCode, Block(0xFFFF, 257), std::nullopt},
        {"answer longer than a frame", kCmdReadCode, Block(0, 1023), std::nullopt},
        {"answer as long as a frame", kCmdReadCode, Block(0, 1022), TBytes(1022, 0)},
        {"unknown command", 0x77, {}, std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(fController.Handle(Request(c.Command, c.Data), false), c.Answer) << c.Name;
}

TEST_F(SimControllerTest, RandomAccessInRequestOrder) {
    // counts 1, 1, 1 at pump (0C), mode (0E), cycles (10)
    const TBytes head = {1, 0, 1, 0, 1, 0, 0x0C, 0x00, 0x0E, 0x00, 0x10, 0x00};
    TBytes write = head;
    for (const uint8_t b : {0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12}) write.push_back(b);
    EXPECT_EQ(fController.Handle(Request(kCmdWriteRandom, write), false), TBytes{});
    EXPECT_EQ(fController.Handle(Request(kCmdReadRandom, head), false),
              (TBytes{0x01, 0x34, 0x12, 0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(fController.Data().ReadItem(0x0E, 2), 0x1234u);

    const std::vector<std::pair<const char*, TBytes>> refused = {
        {"counts beyond the addresses", {2, 0, 0, 0, 0, 0, 0x0C, 0x00}},
        {"no counts", {1, 0}},
        {"item past the end", {0, 0, 0, 0, 1, 0, 0xFE, 0xFF}},
        {"more values than a frame holds", [] {
             TBytes d = {0, 0, 0, 0, 0x00, 0x01};
             for (int i = 0; i < 256; ++i) d.insert(d.end(), {0x00, 0x00});
             return d;
         }()},
    };
    for (const auto& [name, data] : refused)
        EXPECT_EQ(fController.Handle(Request(kCmdReadRandom, data), false), std::nullopt) << name;
    // A write whose values fall short, or with one item past the end, writes nothing at all.
    EXPECT_EQ(fController.Handle(Request(kCmdWriteRandom, head), false), std::nullopt);
    const TBytes pastTheEnd = {0, 0, 2, 0, 0, 0, 0x0E, 0x00, 0xFF, 0xFF, 1, 1, 2, 2};
    EXPECT_EQ(fController.Handle(Request(kCmdWriteRandom, pastTheEnd), false), std::nullopt);
    EXPECT_EQ(fController.Data().ReadItem(0x0E, 2), 0x1234u);

    // Counting reads: every item holds the number of its read, cut to its size; a refused read counts not.
    fController.SetCountReads(true);
    EXPECT_EQ(fController.Handle(Request(kCmdReadRandom, head), false), (TBytes{1, 1, 0, 1, 0, 0, 0}));
    EXPECT_EQ(fController.Handle(Request(kCmdReadRandom, refused[0].second), false), std::nullopt);
    EXPECT_EQ(fController.Handle(Request(kCmdReadRandom, head), false), (TBytes{2, 2, 0, 2, 0, 0, 0}));
    EXPECT_EQ(fController.ReadCount(), 2u);
    EXPECT_EQ(fController.Data().ReadItem(0x0E, 2), 0x1234u);  // the memory itself is as it was
}

TEST_F(SimControllerTest, PasswordAndBroadcast) {
    fController.SetPasswordCRC(0x1234);
    EXPECT_EQ(fController.Handle(Request(kCmdPing, {}, 0x1235), false), std::nullopt);
    EXPECT_EQ(fController.Handle(Request(kCmdPing, {}, 0x1234), false), TBytes{});
    EXPECT_EQ(fController.Handle(Request(kCmdPing, {}, 0x1234), true), TBytes{});
    EXPECT_EQ(fController.Handle(Request(kCmdReadStatus, {}, 0x1234), true), std::nullopt);  // only ping to NAD 0
    fController.SetPasswordCRC(std::nullopt);
    EXPECT_EQ(fController.Handle(Request(kCmdReadStatus, {}, 0x9999), false), (TBytes{1, 2}));
}

TEST_F(SimControllerTest, ProgramLoadsRunStopAndFlashInit) {
    const int32_t first = fController.TransferDate();
    EXPECT_NE(first, 0);
    // The header in code memory carries the date.
    TBytes header(16);
    ASSERT_TRUE(fController.Code().Read(kCodeHeaderAddress, header));
    EXPECT_EQ(GetS32LE(header, 12), first);
    // Loading again gives a later date even within the same two seconds.
    fController.LoadProgram(fProgram);
    EXPECT_GT(fController.TransferDate(), first);

    // Live values move while the program runs, and stand still while it is stopped.
    const TZeltoVar* temp = fProgram->Vars.FindByName("temp");
    const double start = fController.Data().Number(*temp);
    fController.Tick(1.0);
    const double running = fController.Data().Number(*temp);
    EXPECT_NE(running, start);
    fController.ToggleRun();
    EXPECT_EQ(fController.Handle(Request(kCmdReadStatus), false), (TBytes{1, 0}));
    fController.Tick(1.0);
    EXPECT_EQ(fController.Data().Number(*temp), running);
    fController.ToggleRun();
    EXPECT_EQ(fController.PLCStatus(), TPLCStatus::psRun);

    // FlashInit erases the program (and with its second byte the data); the status says so.
    EXPECT_EQ(fController.Handle(Request(kCmdFlashInit, {0xFF, 0x01}), false), TBytes{});
    ASSERT_TRUE(fController.Code().Read(kCodeHeaderAddress, header));
    EXPECT_EQ(header, TBytes(16, 0));
    EXPECT_EQ(fController.Data().Number(*temp), 0.0);
    EXPECT_EQ(fController.Handle(Request(kCmdReadStatus), false), (TBytes{1, 3}));
    fController.ToggleRun();  // no program: nothing to run
    EXPECT_EQ(fController.PLCStatus(), TPLCStatus::psNoValidProgram);
    EXPECT_EQ(fController.Handle(Request(kCmdFlashInit, {0xFF}), false), std::nullopt);
}
