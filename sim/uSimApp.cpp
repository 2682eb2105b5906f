#include "sim/uSimApp.h"

#include <csignal>
#include <cstdio>

#include "qlink/uQLink.h"

namespace zelto::sim {

namespace {

constexpr int kWatchIntervalMs = 1000;

}  // namespace

std::string DefaultAlcFile() {
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    const auto dir = ec ? std::filesystem::current_path() : exe.parent_path();
    // Installed as P/bin/ZeltoSim, the demo program lies in P/share/zeltohttpserver.
    const auto installed = dir.parent_path() / "share" / "zeltohttpserver" / "demo.alc";
    if (!std::filesystem::exists(dir / "demo.alc", ec) && std::filesystem::exists(installed, ec)) return installed.string();
    return (dir / "demo.alc").string();
}

TSimApp::TSimApp(TSimOptions Options) : fOptions(std::move(Options)) {
    fAlcFile = fOptions.AlcFile.empty() ? DefaultAlcFile() : fOptions.AlcFile;
}

bool TSimApp::AlcFileChanged() {
    std::error_code ec;
    const auto time = std::filesystem::last_write_time(fAlcFile, ec);
    if (ec) return false;  // a file being replaced is looked at again next time
    const auto size = std::filesystem::file_size(fAlcFile, ec);
    if (ec || (time == fAlcTime && size == fAlcSize)) return false;
    fAlcTime = time;
    fAlcSize = size;
    return true;
}

bool TSimApp::Setup(std::string& Error) {
    SetChecksumKey(fOptions.ChecksumKey);  // before any checksum is formed, the password's included
    AlcFileChanged();
    const auto program = LoadSimProgram(fAlcFile, Error);
    if (!program) return false;
    std::vector<int32_t> nads = fOptions.NADs;
    if (nads.empty()) {
        if (program->CpuNAD < 2) {
            Error = "No NAD given, and the ALC names none on its \";CPU Zelto-2 NAD n\" line";
            return false;
        }
        nads.push_back(program->CpuNAD);
    }
    for (const int32_t nad : nads) {
        fServer.AddController(nad);
        TSimController* c = fServer.Controller(nad);
        c->SetSysStatus(fOptions.SysStatus);
        c->SetPLCStatus(fOptions.PLCStatus);
        if (fOptions.Password) c->SetPasswordCRC(PasswordChecksum(*fOptions.Password, 0));
        c->SetCountReads(fOptions.CountReads);
        c->LoadProgram(program);
    }
    fServer.SetFaults(fOptions.Faults);
    fServer.Every(fOptions.TickMs, [this] { fServer.TickControllers(); });
    if (fOptions.WatchAlc) {
        fServer.Every(kWatchIntervalMs, [this] {
            std::string error;
            if (AlcFileChanged() && !Reload(error)) std::fprintf(stderr, "%s\n", error.c_str());
        });
    }
    return fServer.Bind(fOptions.BindAddress, fOptions.Port, Error, fOptions.Device);
}

bool TSimApp::Reload(std::string& Error) {
    const auto program = LoadSimProgram(fAlcFile, Error);
    if (!program) return false;
    for (int i = 0; i < fServer.ControllerCount(); ++i) {
        TSimController* c = fServer.ControllerAt(i);
        c->LoadProgram(program);
        std::printf("NAD %d: program loaded from %s, transfer date %08X\n", c->NAD(), fAlcFile.c_str(),
                    static_cast<unsigned>(c->TransferDate()));
    }
    std::fflush(stdout);
    return true;
}

void TSimApp::ToggleRun() {
    for (int i = 0; i < fServer.ControllerCount(); ++i) {
        TSimController* c = fServer.ControllerAt(i);
        c->ToggleRun();
        std::printf("NAD %d: program %s\n", c->NAD(), c->PLCStatus() == TPLCStatus::psRun ? "runs" : "stopped");
    }
    std::fflush(stdout);
}

void TSimApp::Run() {
    fServer.OnSignal(SIGHUP, [this] {
        std::string error;
        if (!Reload(error)) std::fprintf(stderr, "%s\n", error.c_str());
    });
    fServer.OnSignal(SIGUSR1, [this] { ToggleRun(); });
    fServer.Run();
}

}  // namespace zelto::sim
