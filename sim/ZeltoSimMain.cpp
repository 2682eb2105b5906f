// ZeltoSim: Zelto controllers on the Q-link port, for tests, demos and integrators.
#include <cstdio>
#include <string>
#include <vector>

#include "sim/uSimOptions.h"
#include "sim/uSimServer.h"

int main(int argc, char** argv) {
    using namespace zelto::sim;
    TSimOptions options;
    std::string error;
    if (!ParseSimOptions(std::vector<std::string>(argv + 1, argv + argc), options, error)) {
        std::fprintf(stderr, "%s\n%s", error.c_str(), SimUsage().c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(SimUsage().c_str(), stdout);
        return 0;
    }
    TSimServer server;
    std::string nads;
    for (const auto nad : options.NADs) {
        server.AddController(nad);
        server.Controller(nad)->SetSysStatus(options.SysStatus);
        server.Controller(nad)->SetPLCStatus(options.PLCStatus);
        nads += (nads.empty() ? "" : ", ") + std::to_string(nad);
    }
    if (!server.Bind(options.BindAddress, options.Port, error)) {
        std::fprintf(stderr, "Cannot bind UDP %s:%u: %s\n", options.BindAddress.empty() ? "0.0.0.0" : options.BindAddress.c_str(),
                     options.Port, error.c_str());
        return 1;
    }
    std::printf("ZeltoSim listening on %s for NAD %s\n", server.BoundEndpoint().c_str(), nads.c_str());
    std::fflush(stdout);
    server.Run();
    return 0;
}
