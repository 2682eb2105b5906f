#include "plc/uZelto.h"

#include <cstdlib>

#include <gtest/gtest.h>

#include "plc/uProgramDate.h"
#include "qlink/FakeUDPSocket.h"

using namespace zelto;
using zelto::test::TFakeUDPSocket;

namespace {

// A part of the demo controller's ALC.
const std::vector<std::string> kAlc = {
    ";CPU Zelto-2 NAD 10",
    "0000 2 1 0 4 global real temp Tank temperature",
    "000C 2 1 0 1 global bit pump Pump running",
    "0016 2 4 0 2 global word table Step table",
    "0024 0 1 0 2 local int scratch Scratch register",
    "0010 3 1 0 4 global long cycles Pump starts (read-only: flags bit 0)",
};

// A proxy for NAD 10 on a scripted socket that records what is sent and never answers.
struct TProxyTest : ::testing::Test {
    void SetUp() override {
        auto socket = std::make_unique<TFakeUDPSocket>();
        fSocket = socket.get();
        zelto.SetComm(std::make_unique<TCommunicator>(std::move(socket)));
        zelto.ZeltoVarList().LoadFromStr(kAlc, 10);
    }
    TGadgetVar* Add(const std::string& item) {
        TFullNameParts p;
        EXPECT_TRUE(ParseFullName(item, p)) << item;
        return request.Items(request.Add(std::make_unique<TGadgetVar>(item.substr(0, item.find('=')), p.Name, p.NAD,
                                                                      std::max(p.ArrayIndex, 0), p.WriteValue)));
    }
    TZelto zelto{10};
    TFakeUDPSocket* fSocket = nullptr;
    TGadgetVarList request;
};

}  // namespace

TEST_F(TProxyTest, BindsByNameElementAndScope) {
    const struct {
        const char* item;
        const char* bound;  // name of the bound variable, "" when unbound
        int32_t element;
    } cases[] = {
        {"c10.temp", "temp", 0},    {"c10.table[3]", "table", 3}, {"c10.table", "table", 0},
        {"c10.table[4]", "", 0},    {"c10.scratch", "", 0},       {"c11.temp", "", 0},
        {"c10.Temp", "", 0},        {"c10.temp", "temp", 0},      {"c10.pump[0]", "pump", 0},
        {"c10.pump[1]", "", 0},
    };
    for (const auto& c : cases) Add(c.item);
    zelto.AssignZeltoVarsToGadgetVars(request);
    int copies = 0;
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const TGadgetVar* g = request.Items(static_cast<int>(i));
        SCOPED_TRACE(cases[i].item);
        if (*cases[i].bound == '\0') {
            EXPECT_EQ(g->ZeltoVar(), nullptr);
            continue;
        }
        ASSERT_NE(g->ZeltoVar(), nullptr);
        EXPECT_EQ(g->ZeltoVar()->Name(), cases[i].bound);
        EXPECT_EQ(g->ZeltoVar()->ArrayIndex(), cases[i].element);
        ++copies;
    }
    // One copy per binding, in the order of the controller's variables; the same element twice is copied twice.
    ASSERT_EQ(zelto.SelectedVarList().Count(), copies);
    EXPECT_EQ(zelto.SelectedVarList().Items(0)->Name(), "temp");
    EXPECT_EQ(zelto.SelectedVarList().Items(1)->Name(), "temp");
    EXPECT_EQ(zelto.SelectedVarList().Items(2)->Name(), "pump");
    EXPECT_EQ(zelto.SelectedVarList().Items(3)->ArrayIndex(), 0);
    EXPECT_EQ(zelto.SelectedVarList().Items(4)->ArrayIndex(), 3);

    // A second binding starts afresh.
    request.Items(0)->SetZeltoVar(nullptr);
    zelto.AssignZeltoVarsToGadgetVars(request);
    EXPECT_NE(request.Items(0)->ZeltoVar(), nullptr);
    EXPECT_EQ(zelto.SelectedVarList().Count(), copies);
}

TEST_F(TProxyTest, OnlyWritesTheVariableTakesAreSent) {
    for (const char* item : {"c10.pump=1", "c10.pump=2", "c10.table[1]=65535", "c10.table[2]=65536",
                             "c10.temp=-12.5", "c10.temp=1e39", "c10.cycles=5"})
        Add(item);
    zelto.AssignZeltoVarsToGadgetVars(request);
    // Copies in the order of the controller's variables, then of the items; a refused write's copy holds
    // the cached value and must not be sent. A read-only variable is only read, whatever the value.
    const std::vector<std::pair<std::string, bool>> expected = {{"temp", true},   {"temp", false}, {"pump", true},
                                                                {"pump", false},  {"table", true}, {"table", false},
                                                                {"cycles", false}};
    std::vector<std::pair<std::string, bool>> copies;
    for (const TZeltoVar* v : zelto.SelectedVarList()) copies.emplace_back(v->Name(), v->WriteReq());
    EXPECT_EQ(copies, expected);
    EXPECT_EQ(zelto.ZeltoVarList().FindByName("temp")->ValueFloat(), -12.5) << "the write value is applied";
    EXPECT_EQ(zelto.ZeltoVarList().FindByName("cycles")->ValueInt(), 0) << "a read-only variable keeps its value";

    // Refused writes alone send nothing at all.
    request.Clear();
    Add("c10.pump=2");
    Add("c10.temp=abc");
    Add("c10.cycles=7");
    zelto.AssignZeltoVarsToGadgetVars(request);
    EXPECT_FALSE(zelto.WriteVars());
    EXPECT_TRUE(fSocket->Sent().empty());
}

TEST_F(TProxyTest, ValuesReadGoToTheBoundVariables) {
    Add("c10.table[2]");
    Add("c10.temp");
    Add("c10.table[2]");
    zelto.AssignZeltoVarsToGadgetVars(request);
    // What a read leaves in the copies.
    zelto.SelectedVarList().Items(0)->SetValue(21.5);
    zelto.SelectedVarList().Items(1)->SetValue(int32_t{7});
    zelto.SelectedVarList().Items(2)->SetValue(int32_t{7});
    zelto.CopyValuesToGadgetVars(request);
    EXPECT_EQ(request.Items(1)->ZeltoVar()->ValueText(), "21.5");
    EXPECT_EQ(request.Items(0)->ZeltoVar()->ValueText(), "7");
    EXPECT_EQ(request.Items(2)->ZeltoVar(), request.Items(0)->ZeltoVar());
}

TEST_F(TProxyTest, NothingOfItsNADMeansNoTraffic) {
    Add("c11.temp");
    Add("c12.x=5");
    zelto.Read(request, false);
    EXPECT_EQ(zelto.ProgramState(), psInit);
    EXPECT_FALSE(zelto.PingOK());
    EXPECT_TRUE(fSocket->Sent().empty());
    EXPECT_FALSE(fSocket->Active()) << "not even the socket is opened";
}

TEST(ZeltoProxy, CreationAndProperties) {
    TZelto none;
    EXPECT_EQ(none.NAD(), -1);
    EXPECT_EQ(none.Comm().ZeltoNAD(), -1);
    TZelto z(42);
    EXPECT_EQ(z.NAD(), 42);
    EXPECT_EQ(z.Comm().ZeltoNAD(), 42);
    EXPECT_EQ(z.ProgramState(), psInit);
    EXPECT_FALSE(z.AlcOK() || z.RunOK() || z.ProgramOK() || z.PingOK());
    EXPECT_EQ(z.RequestCount, 0);
    EXPECT_EQ(z.LastRequestTimestamp, 0);
    EXPECT_EQ(z.IP(), "");
    EXPECT_EQ(z.ProgramDate(), "");
    z.SetPassword("secret");
    EXPECT_EQ(z.Comm().PasswordCRC(), PasswordChecksum(std::string_view("secret"), 0));
    z.SetNAD(43);
    EXPECT_EQ(z.Comm().ZeltoNAD(), 43);
}

TEST(ZeltoProxy, ProgramDateText) {
    ::setenv("LC_ALL", "C", 1);  // read once, on the first use
    const auto dos = [](int y, int mo, int d, int h, int mi, int s) {
        return static_cast<int32_t>(((y - 1980) << 25) | (mo << 21) | (d << 16) | (h << 11) | (mi << 5) | (s / 2));
    };
    EXPECT_EQ(ProgramDateText(dos(2024, 3, 5, 14, 30, 10)), "03/05/24 14:30:10");
    EXPECT_EQ(ProgramDateText(dos(2024, 3, 5, 0, 0, 0)), "03/05/24");
    EXPECT_EQ(ProgramDateText(dos(2024, 13, 5, 1, 0, 0)), "");
    EXPECT_EQ(ProgramDateText(0), "");
    EXPECT_EQ(ProgramDateText(dos(2070, 1, 1, 0, 0, 0)), "") << "year bit 31 set: a negative date";
}

TEST(ZeltoList, Operations) {
    TZeltoList list;
    EXPECT_EQ(list.AddNewZeltoByNAD(5), 0);
    EXPECT_EQ(list.AddNewZeltoByNAD(6), 1);
    EXPECT_EQ(list.AddNewZeltoByNAD(5), 2);
    EXPECT_EQ(list.GetByNAD(5), list.GetItem(2)) << "the one added last";
    EXPECT_EQ(list.GetByNAD(7), nullptr);
    EXPECT_EQ(list.GetItem(3), nullptr);
    EXPECT_EQ(list.GetItem(-1), nullptr);
    TZelto* six = list.GetItem(1);
    EXPECT_EQ(list.IndexOf(six), 1);
    std::unique_ptr<TZelto> taken = list.Remove(six);
    EXPECT_EQ(taken.get(), six);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Remove(six), nullptr);
    EXPECT_EQ(list.Add(std::move(taken)), 2);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
}
