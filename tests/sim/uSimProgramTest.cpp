// The program in a simulated controller's code memory, read back with the server's own record decoders and
// zip reader; transfer dates; the demo's live values; the fault switches; the command line.
#include <sstream>

#include <gtest/gtest.h>

#include "qlink/hCodeMemory.h"
#include "sim/uSimDemo.h"
#include "sim/uSimFaults.h"
#include "sim/uSimOptions.h"
#include "sim/uSimProgram.h"
#include "zip/uDosDateTime.h"
#include "zip/uZipFile.h"

using namespace zelto;
using namespace zelto::sim;

namespace {

using TBytes = std::vector<uint8_t>;

const std::string kAlc =
    "; comment before the marker\r\n"
    ";CPU Zelto-2 NAD 12\r\n"
    "0000 2 1 0 4 global real temp Temperatur \xB0" "C\r\n"
    "0004 2 1 0 4 global real setpoint Sollwert\r\n"
    "0008 2 1 0 1 global bit pump Pumpe\r\n"
    "000A 2 1 0 2 global word mode Betriebsart\r\n"
    "000C 3 1 0 4 global long cycles Pumpenstarts\r\n"
    "0010 2 1 0 4 global real level Fuellstand\r\n"
    "0014 2 4 0 2 global word table Tabelle\r\n";

template <std::size_t N>
std::span<const uint8_t, N> Fixed(const TBytes& b) {
    return std::span<const uint8_t, N>(b.data(), N);
}

}  // namespace

TEST(SimProgram, CodeMemoryHoldsHeaderTableAndArchive) {
    const auto program = BuildSimProgram("tank.alc", kAlc, 45000.25);
    EXPECT_EQ(program->CpuNAD, 12);
    EXPECT_EQ(program->Vars.Count(), 10);
    TSimCodeMemory code;
    LayOutProgram(code, *program, 12, 0x5A8B6C2D);

    TBytes headerBytes(sizeof(TCodeHeader));
    ASSERT_TRUE(code.Read(kCodeHeaderAddress, headerBytes));
    const TCodeHeader header = DecodeCodeHeader(Fixed<sizeof(TCodeHeader)>(headerBytes));
    EXPECT_TRUE(IsValidCodeHeader(header));
    EXPECT_EQ(+header.transfer_date, 0x5A8B6C2D);
    EXPECT_EQ(+header.master_NAD, 12);
    ASSERT_EQ(+header.file_count, 2);

    std::vector<std::string> names;
    std::string archive;
    for (int i = 0; i < header.file_count; ++i) {
        TBytes entryBytes(sizeof(TCodeFileDescriptor));
        ASSERT_TRUE(code.Read(static_cast<uint32_t>(header.file_adr) + 46u * static_cast<uint32_t>(i), entryBytes));
        const auto entry = DecodeCodeFileDescriptor(Fixed<sizeof(TCodeFileDescriptor)>(entryBytes));
        names.push_back(CodeFileName(entry));
        if (CodeFileName(entry) != kAlcFileName) continue;
        TBytes file(static_cast<std::size_t>(entry.file_size));
        ASSERT_TRUE(code.Read(static_cast<uint32_t>(entry.file_address), file));
        archive.assign(file.begin(), file.end());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"prog.bin", "alc.zip"}));
    TZipFile zip;
    std::istringstream in(archive);
    zip.LoadFromStream(in);
    ASSERT_EQ(zip.Count(), 1);
    EXPECT_EQ(zip.GetName(0), "tank.alc");
    EXPECT_EQ(zip.GetUncompressed(0), kAlc);
    EXPECT_NEAR(zip.GetDateTime(0), 45000.25, 2.0 / 86400);
}

TEST(SimProgram, UnreadableAlcIsRefused) {
    EXPECT_THROW(BuildSimProgram("bad.alc", ";CPU Zelto-2 NAD 3\n0000 2 1 0 4 global float x\n", 45000),
                 EAlcParseError);
    std::string error;
    EXPECT_EQ(LoadSimProgram("/nonexistent/dir/x.alc", error), nullptr);
    EXPECT_NE(error.find("/nonexistent/dir/x.alc"), std::string::npos);
}

TEST(SimProgram, TransferDatesAlwaysMoveOn) {
    const int32_t now = static_cast<int32_t>(DateTimeToDosDateTime(Now()));
    const int32_t tomorrow = static_cast<int32_t>(DateTimeToDosDateTime(Now() + 1.0));
    for (const int32_t previous : {0, now - 100, now, tomorrow}) {
        const int32_t next = NextTransferDate(previous);
        EXPECT_GT(next, previous) << previous;
        if (previous < now) {
            EXPECT_GE(next, now);
        }
        // A date after a real date is a real date again.
        if (previous >= now) {
            EXPECT_TRUE(DosDateTimeToDateTime(static_cast<uint32_t>(next)).has_value()) << previous;
        }
    }
}

TEST(SimDemo, TankFollowsThePumpAndTheSetpoint) {
    const auto program = BuildSimProgram("tank.alc", kAlc, 45000);
    const TZeltoVarList& vars = program->Vars;
    TSimDataMemory data;
    TSimDemo demo(vars);
    demo.Start(data);
    auto value = [&](const char* name) { return data.Number(*vars.FindByName(name)); };
    EXPECT_EQ(value("temp"), TSimDemo::kAmbient);
    EXPECT_EQ(value("setpoint"), 45.0);
    EXPECT_EQ(value("mode"), 1);
    EXPECT_EQ(data.Number(*vars.Items(9)), 40.0);  // table[3]

    // Auto mode: 20 s of heating bring temp close to the setpoint; then the pump stops and it cools.
    for (int i = 0; i < 199; ++i) demo.Step(data, 0.1);
    EXPECT_EQ(value("pump"), 1);
    EXPECT_NEAR(value("temp"), 45.0, 2.5);
    const double hot = value("temp");
    for (int i = 0; i < 50; ++i) demo.Step(data, 0.1);
    EXPECT_EQ(value("pump"), 0);
    EXPECT_LT(value("temp"), hot);
    EXPECT_EQ(value("cycles"), 1);
    for (int i = 0; i < 60; ++i) demo.Step(data, 0.1);  // the next period starts the pump again
    EXPECT_EQ(value("pump"), 1);
    EXPECT_EQ(value("cycles"), 2);
    EXPECT_NE(value("level"), 50.0);

    // Manual mode: the pump is what a client wrote; off mode stops it.
    data.SetNumber(*vars.FindByName("mode"), 2);
    data.SetNumber(*vars.FindByName("pump"), 0);
    for (int i = 0; i < 400; ++i) demo.Step(data, 0.1);
    EXPECT_EQ(value("pump"), 0);
    data.SetNumber(*vars.FindByName("pump"), 1);
    demo.Step(data, 0.1);
    EXPECT_EQ(value("cycles"), 3);
    data.SetNumber(*vars.FindByName("mode"), 0);
    demo.Step(data, 0.1);
    EXPECT_EQ(value("pump"), 0);
}

TEST(SimFaults, RulesAndWhatTheyDoToAnAnswer) {
    struct RuleCase {
        const char* Text;
        bool Ok;
        int Every;
        double Rate;
    };
    for (const auto& c : std::vector<RuleCase>{{"3", true, 3, 0}, {"1", true, 1, 0}, {"0.25", true, 0, 0.25},
                                               {"1.0", true, 0, 1.0}, {"0", false, 0, 0}, {"-2", false, 0, 0},
                                               {"1.5", false, 0, 0}, {"x", false, 0, 0}, {"", false, 0, 0}}) {
        TFaultRule rule;
        EXPECT_EQ(ParseFaultRule(c.Text, rule), c.Ok) << c.Text;
        if (c.Ok) {
            EXPECT_EQ(rule.Every, c.Every) << c.Text;
            EXPECT_EQ(rule.Rate, c.Rate) << c.Text;
        }
    }

    const TBytes answer = {0xAA, 0x55, 0x02, 0x00, 1, 2, 3, 4, 5, 6};
    TSimFaultOptions options;
    options.Drop.Every = 3;
    options.Split.Every = 2;
    options.Duplicate.Every = 5;
    options.Corrupt.Every = 4;
    TSimFaults faults(options);
    std::vector<std::size_t> counts;
    for (int i = 1; i <= 6; ++i) counts.push_back(faults.Apply(answer).size());
    // 1 plain, 2 split, 3 dropped, 4 split (and corrupted), 5 twice, 6 dropped
    EXPECT_EQ(counts, (std::vector<std::size_t>{1, 2, 0, 2, 2, 0}));

    TSimFaultOptions every;
    every.Corrupt.Every = 1;
    every.Split.Every = 1;
    TSimFaults both(every);
    const auto parts = both.Apply(answer);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0], TBytes(answer.begin(), answer.begin() + 5));
    EXPECT_EQ(parts[1].back(), answer.back() ^ 0xFF);

    TSimFaultOptions always;
    always.Drop.Rate = 1.0;
    TSimFaults dropAll(always);
    EXPECT_TRUE(dropAll.Apply(answer).empty());
    TSimFaults none;
    EXPECT_EQ(none.Apply(answer), std::vector<TBytes>{answer});
}

TEST(SimOptions, CommandLine) {
    TSimOptions o;
    std::string error;
    ASSERT_TRUE(ParseSimOptions({"--nad", "10", "7", "--alc", "x.alc", "--password", "secret", "--drop", "3",
                                 "--split", "0.5", "--delay", "20", "--seed", "9", "--watch-alc", "--plc-status",
                                 "stop", "--tick", "50"},
                                o, error))
        << error;
    EXPECT_EQ(o.NADs, (std::vector<int32_t>{10, 7}));
    EXPECT_EQ(o.AlcFile, "x.alc");
    EXPECT_EQ(o.Password, "secret");
    EXPECT_EQ(o.Faults.Drop.Every, 3);
    EXPECT_EQ(o.Faults.Split.Rate, 0.5);
    EXPECT_EQ(o.Faults.DelayMs, 20);
    EXPECT_EQ(o.Faults.Seed, 9u);
    EXPECT_TRUE(o.WatchAlc);
    EXPECT_EQ(o.PLCStatus, TPLCStatus::psStop);
    EXPECT_EQ(o.TickMs, 50);

    ASSERT_TRUE(ParseSimOptions({}, o, error));
    EXPECT_TRUE(o.NADs.empty());  // the ALC names the NAD
    ASSERT_TRUE(ParseSimOptions({"--help"}, o, error));
    EXPECT_TRUE(o.Help);

    const std::vector<std::vector<std::string>> bad = {
        {"--nad"}, {"--nad", "1"}, {"10", "--nad", "10"}, {"--drop", "0"}, {"--corrupt", "2.5"}, {"--delay", "-1"},
        {"--port", "70000"}, {"--bind", "localhost"}, {"--frobnicate"}, {"--plc-status", "walking"}, {"--tick", "0"},
    };
    for (const auto& args : bad) {
        error.clear();
        EXPECT_FALSE(ParseSimOptions(args, o, error)) << args[0];
        EXPECT_FALSE(error.empty()) << args[0];
    }
    // Every option is explained.
    const std::string usage = SimUsage();
    for (const char* name : {"--nad", "--alc", "--watch-alc", "--password", "--bind", "--port", "--sys-status",
                             "--plc-status", "--tick", "--drop", "--duplicate", "--corrupt", "--split", "--delay",
                             "--seed", "--help", "SIGHUP", "SIGUSR1"})
        EXPECT_NE(usage.find(name), std::string::npos) << name;
}
