#pragma once
// Controllers for request-service tests, without a network: ZeltoSim's controllers in the same process
// behind scripted sockets, and silent ones that never answer. Each proxy gets a socket of its own, as in
// the server, and the simulator records the requests each controller saw, in order.
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "plc/uZelto.h"
#include "qlink/FakeUDPSocket.h"
#include "qlink/uQLink.h"
#include "sim/uSimProgram.h"
#include "sim/uSimServer.h"

namespace zelto::test {

class TSimulatedControllers {
public:
    // Hosts the answering NADs with the test program; the ALC cache goes to a folder of its own.
    explicit TSimulatedControllers(const std::vector<int32_t>& Answering) {
        std::string t = (std::filesystem::temp_directory_path() / "zelto-sim-XXXXXX").string();
        fDir = ::mkdtemp(t.data());
        ::setenv("TEMP", fDir.c_str(), 1);
        std::string error;
        const auto program = sim::LoadSimProgram(ZELTO_TEST_ALC, error);
        for (const int32_t nad : Answering) {
            fSim.AddController(nad);
            if (program) fSim.Controller(nad)->LoadProgram(program);
        }
        fSim.SetOnRequest([this](const sim::TSimRequest& r) {
            std::vector<uint8_t> seen{r.Command};
            seen.insert(seen.end(), r.Data.begin(), r.Data.end());
            Seen[r.ReceiverNAD].push_back(std::move(seen));  // under the simulator's lock
        });
    }
    ~TSimulatedControllers() {
        ::unsetenv("TEMP");
        std::filesystem::remove_all(fDir);
    }

    // A proxy for NAD on a socket of its own: the simulator answers it unless the NAD is not hosted. Every
    // attempt of a silent proxy's first exchange waits WaitMs.
    std::unique_ptr<TZelto> Proxy(int32_t NAD, int WaitMs = 500) {
        auto socket = std::make_unique<TFakeUDPSocket>();
        Sockets[NAD] = socket.get();
        if (fSim.Controller(NAD) != nullptr) {
            socket->SetResponder([this](TFakeUDPSocket& s, const TSentDatagram& sent, int) {
                for (auto& answer : fSim.HandleDatagram(sent.Bytes)) s.Inject(std::move(answer), "127.0.0.1");
            });
        }
        auto z = std::make_unique<TZelto>(NAD);
        z->SetComm(std::make_unique<TCommunicator>(std::move(socket)));
        z->Comm().SetWaitTime(WaitMs);
        return z;
    }
    // Forgets what the controllers saw and the ALC cache files, as for a server started afresh.
    void Restart() {
        auto lock = fSim.Lock();
        Seen.clear();
        for (const auto& f : std::filesystem::directory_iterator(fDir)) std::filesystem::remove(f.path());
    }

    // Per NAD, each request the controller saw: its command byte, then its data.
    std::map<int32_t, std::vector<std::vector<uint8_t>>> Seen;
    std::map<int32_t, TFakeUDPSocket*> Sockets;  // of the proxies made last, owned by them

private:
    std::string fDir;
    sim::TSimServer fSim;
};

}  // namespace zelto::test
