// ZeltoSim: Zelto controllers on the Q-link port, for tests, demos and integrators.
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "sim/uSimApp.h"

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
    // A closed output (a finished log reader) must not end the simulator at its next message.
    std::signal(SIGPIPE, SIG_IGN);
    TSimApp app(options);
    if (!app.Setup(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::string nads;
    for (int i = 0; i < app.Server().ControllerCount(); ++i)
        nads += (nads.empty() ? "" : ", ") + std::to_string(app.Server().ControllerAt(i)->NAD());
    std::printf("ZeltoSim listening on %s for NAD %s\n", app.Server().BoundEndpoint().c_str(), nads.c_str());
    std::printf("Program from %s; SIGHUP loads it again, SIGUSR1 stops or runs it.\n", app.AlcFile().c_str());
    std::fflush(stdout);
    app.Run();
    return 0;
}
