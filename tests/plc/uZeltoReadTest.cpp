// The proxy's read sequence against a simulated controller in the same process: the communicator's
// datagrams go to ZeltoSim's request handler and its answers come back on the scripted socket.
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "plc/uAlcCache.h"
#include "plc/uZelto.h"
#include "qlink/FakeUDPSocket.h"
#include "qlink/hQLinkCommands.h"
#include "qlink/uQLink.h"
#include "sim/uSimProgram.h"
#include "sim/uSimServer.h"
#include "zip/uZipFile.h"

using namespace zelto;
using zelto::test::TFakeUDPSocket;
namespace fs = std::filesystem;

namespace {

// An ALC archive as a controller keeps it: one entry holding the text.
std::string ZipOf(const std::string& AlcText) {
    TZipFile zip;
    zip.AddFile("alc.txt", 0);
    zip.SetUncompressed(0, AlcText);
    std::ostringstream out;
    zip.SaveToStream(out);
    return out.str();
}

struct TProxyReadTest : ::testing::Test {
    void SetUp() override {
        std::string t = (fs::temp_directory_path() / "zelto-read-XXXXXX").string();
        dir = ::mkdtemp(t.data());
        ::setenv("TEMP", dir.c_str(), 1);
        std::string error;
        program = sim::LoadSimProgram(ZELTO_TEST_ALC, error);
        ASSERT_TRUE(program) << error;
        sim.AddController(10);
        sim.Controller(10)->LoadProgram(program);
        sim.SetOnRequest([this](const sim::TSimRequest& r) {
            if (r.Command == kCmdReadCode && r.Data.size() >= 4 && (r.Data[2] | (r.Data[3] << 8)) != 16) ++alcReads;
            ++requests[r.Command];
        });
    }
    void TearDown() override {
        ::unsetenv("TEMP");
        fs::remove_all(dir);
    }

    // A proxy whose communicator talks to the simulator.
    std::unique_ptr<TZelto> Proxy(int32_t nad = 10) {
        auto socket = std::make_unique<TFakeUDPSocket>();
        socket->SetResponder([this](TFakeUDPSocket& s, const zelto::test::TSentDatagram& sent, int) {
            // With breakAlc, reads of the ALC's blocks (beyond the short header) get one byte instead.
            const auto& b = sent.Bytes;
            if (breakAlc && b.size() >= 23 && b[14] == kCmdReadCode && (b[17] | (b[18] << 8)) != 16) {
                s.Inject(BuildAnswerFrame(10, 1, 0, std::vector<uint8_t>{0}), "127.0.0.1");
                return;
            }
            for (auto& answer : sim.HandleDatagram(sent.Bytes)) s.Inject(std::move(answer), "127.0.0.1");
        });
        auto z = std::make_unique<TZelto>(nad);
        z->SetComm(std::make_unique<TCommunicator>(std::move(socket)));
        z->Comm().SetEthAdapter(&adapter);
        return z;
    }
    TGadgetVarList Request(std::initializer_list<const char*> items) {
        TGadgetVarList list;
        for (const char* item : items) {
            TFullNameParts p;
            ParseFullName(item, p);
            list.Add(std::make_unique<TGadgetVar>(std::string(item).substr(0, std::string(item).find('=')), p.Name,
                                                  p.NAD, std::max(p.ArrayIndex, 0), p.WriteValue));
        }
        return list;
    }
    static std::vector<std::string> Values(const TGadgetVarList& list) {
        std::vector<std::string> out;
        for (const TGadgetVar* g : list) out.push_back(g->ZeltoVar() ? g->ZeltoVar()->ValueText() : "?");
        return out;
    }

    std::string dir;
    std::shared_ptr<const sim::TSimProgram> program;
    sim::TSimServer sim;
    TEthernetAdapterInfo adapter{"lo", "loopback", "127.0.0.1", "255.0.0.0"};
    int alcReads = 0;
    std::map<uint8_t, int> requests;
    std::atomic<bool> breakAlc{false};
};

}  // namespace

TEST_F(TProxyReadTest, ReadsAfterOneAlcLoadAndKeepsTheCache) {
    auto z = Proxy();
    auto list = Request({"c10.w=5", "c10.w", "c10.tab[3]=7", "c10.nope", "c11.w"});
    z->Read(list, false);
    EXPECT_EQ(z->ProgramState(), psRun) << z->ErrorS;
    EXPECT_TRUE(z->PingOK() && z->ProgramOK() && z->AlcOK() && z->RunOK());
    EXPECT_EQ(z->IP(), "127.0.0.1");
    EXPECT_EQ(Values(list), (std::vector<std::string>{"5", "5", "7", "?", "?"}));
    EXPECT_GT(alcReads, 0);
    EXPECT_FALSE(z->AllocationFile().empty());
    EXPECT_FALSE(z->ProgramDate().empty());
    EXPECT_TRUE(fs::exists(dir + "/alc_http_10.tmp"));

    // Unchanged program: neither the cache nor the controller's ALC is read again.
    alcReads = 0;
    fs::remove(dir + "/alc_http_10.tmp");
    list = Request({"c10.tab[3]", "c10.w"});
    z->Read(list, false);
    EXPECT_EQ(Values(list), (std::vector<std::string>{"7", "5"}));
    EXPECT_EQ(alcReads, 0);
    EXPECT_FALSE(fs::exists(dir + "/alc_http_10.tmp"));

    // A new proxy for the same controller takes the ALC from a cache file of the current date.
    ASSERT_TRUE(WriteAlcCache(dir + "/alc_http_10.tmp", sim.Controller(10)->TransferDate(),
                              ZipOf(";CPU Zelto-2 NAD 10\r\n0002 2 1 0 2 global word other Other\r\n")));
    auto fresh = Proxy();
    list = Request({"c10.other", "c10.w"});
    fresh->Read(list, false);
    EXPECT_EQ(alcReads, 0);
    EXPECT_EQ(Values(list), (std::vector<std::string>{"5", "?"})) << "the cached ALC names w's address 'other'";

    // A reloaded program has another transfer date: the ALC is fetched and the cache replaced.
    sim.Controller(10)->LoadProgram(program);
    fresh->Read(list, false);
    EXPECT_GT(alcReads, 0);
    EXPECT_EQ(Values(list), (std::vector<std::string>{"?", "0"}));
    EXPECT_EQ(ReadAlcCache(dir + "/alc_http_10.tmp", sim.Controller(10)->TransferDate()).has_value(), true);
}

TEST_F(TProxyReadTest, EachFailureEndsWithItsMessage) {
    // No socket.
    TZelto noSocket(10);
    noSocket.SetComm(std::make_unique<TCommunicator>(nullptr));
    auto list = Request({"c10.w"});
    noSocket.Read(list, false);
    EXPECT_EQ(noSocket.ErrorS, "Cannot open socket!");
    EXPECT_EQ(noSocket.ProgramState(), psSocketInit);

    // A stopped program: answering, program and ALC fine, nothing written or read.
    sim.Controller(10)->ToggleRun();
    auto z = Proxy();
    list = Request({"c10.w=5", "c10.i"});
    z->Read(list, false);
    EXPECT_EQ(z->ErrorS, "PLC not running!");
    EXPECT_EQ(z->ProgramState(), psSocketInit);
    EXPECT_TRUE(z->PingOK() && z->ProgramOK() && z->AlcOK());
    EXPECT_FALSE(z->RunOK());
    EXPECT_EQ(requests[kCmdWriteRandom] + requests[kCmdReadRandom], 0);
    EXPECT_EQ(Values(list), (std::vector<std::string>{"?", "?"}));

    // Running again: the same proxy recovers; the message stays as a record.
    sim.Controller(10)->ToggleRun();
    z->Read(list, false);
    EXPECT_EQ(z->ProgramState(), psRun);
    EXPECT_TRUE(z->RunOK());
    EXPECT_EQ(z->ErrorS, "PLC not running!");
    EXPECT_EQ(Values(list), (std::vector<std::string>{"5", "0"}));
}

TEST_F(TProxyReadTest, SilentControllerIsNotResponding) {
    auto z = Proxy(12);
    auto list = Request({"c12.w"});
    z->Read(list, false);
    EXPECT_EQ(z->ErrorS, "PLC not responding!");
    EXPECT_FALSE(z->PingOK());
    EXPECT_EQ(z->ProgramState(), psSocketInit);
    EXPECT_EQ(z->IP(), "");
}

TEST_F(TProxyReadTest, ReadAllAddsEveryVariableOnce) {
    auto z = Proxy();
    TGadgetVarList list;
    z->Read(list, true);
    std::vector<std::string> names;
    for (const TGadgetVar* g : list) names.push_back(g->FullName());
    EXPECT_EQ(names, (std::vector<std::string>{"c10.flag", "c10.w", "c10.i", "c10.l", "c10.r", "c10.tab[0]",
                                               "c10.tab[1]", "c10.tab[2]", "c10.tab[3]"}));
    for (const std::string& v : Values(list)) EXPECT_EQ(v, "0");
    z->Read(list, true);
    EXPECT_EQ(list.Count(), 9) << "an unchanged program adds nothing";
}

TEST_F(TProxyReadTest, BadAlcLineRaisesAndKeepsTheVariablesBefore) {
    ASSERT_TRUE(WriteAlcCache(dir + "/alc_http_10.tmp", sim.Controller(10)->TransferDate(),
                              ZipOf(";CPU Zelto-2 NAD 10\r\n0002 2 1 0 2 global word w W\r\nno ALC line\r\n")));
    auto z = Proxy();
    auto list = Request({"c10.w"});
    try {
        z->Read(list, false);
        FAIL() << "no error";
    } catch (const EAlcParseError& e) {
        EXPECT_STREQ(e.what(), "Error parsing ALC data on line 2");
    }
    EXPECT_EQ(z->ProgramState(), psReadAlc);
    EXPECT_EQ(z->ZeltoVarList().Count(), 1);

    // The program is unchanged: the next Read serves those variables and loads nothing again.
    fs::remove(dir + "/alc_http_10.tmp");
    z->Read(list, false);
    EXPECT_EQ(Values(list), std::vector<std::string>{"0"});
    EXPECT_EQ(alcReads, 0);
}

TEST_F(TProxyReadTest, AFailedAlcLoadIsRepeatedOnTheNextRead) {
    auto z = Proxy();
    auto list = Request({"c10.w=4"});
    z->Read(list, false);
    ASSERT_EQ(Values(list), std::vector<std::string>{"4"});

    // Without a cache file, the ALC's blocks come back short while it is read through AllocationFile.
    fs::remove(dir + "/alc_http_10.tmp");
    breakAlc = true;
    EXPECT_TRUE(z->AllocationFile().empty());
    EXPECT_EQ(z->ZeltoVarList().Count(), 0);

    // The program did not change, yet the next Read loads the ALC again instead of going on without it.
    breakAlc = false;
    list = Request({"c10.w"});
    z->Read(list, false);
    EXPECT_EQ(z->ProgramState(), psRun) << z->ErrorS;
    EXPECT_EQ(Values(list), std::vector<std::string>{"4"});
    alcReads = 0;
    z->Read(list, false);
    EXPECT_EQ(alcReads, 0) << "and once loaded, it is kept";
}
