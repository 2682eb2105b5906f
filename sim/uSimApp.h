#pragma once
// The ZeltoSim program: the options turned into a running simulator. It loads the ALC file into every
// hosted controller, serves on the Q-link port, steps the live values, and answers the signals that load
// the program again (SIGHUP) and stop or run it (SIGUSR1); with --watch-alc it also loads the program again
// when the file changes.
#include <filesystem>
#include <memory>
#include <string>

#include "sim/uSimOptions.h"
#include "sim/uSimServer.h"

namespace zelto::sim {

class TSimApp {
public:
    explicit TSimApp(TSimOptions Options);

    // Loads the ALC, hosts the controllers with their status, password and faults, and binds the socket.
    // False with a message for the user.
    bool Setup(std::string& Error);
    // Serves until SIGINT or SIGTERM, on the calling thread.
    void Run();

    // Loads the ALC file again into every controller: a new transfer date, fresh data memory. A file that
    // cannot be used leaves the old program (false with the reason).
    bool Reload(std::string& Error);
    // Stops every running program, runs every stopped one.
    void ToggleRun();

    TSimServer& Server() { return fServer; }
    const TSimOptions& Options() const { return fOptions; }
    std::string AlcFile() const { return fAlcFile; }

private:
    // Whether the ALC file differs from the one loaded last (time or size).
    bool AlcFileChanged();

    TSimOptions fOptions;
    std::string fAlcFile;
    std::filesystem::file_time_type fAlcTime{};
    std::uintmax_t fAlcSize = 0;
    TSimServer fServer;
};

// "demo.alc" in the directory of the running program.
std::string DefaultAlcFile();

}  // namespace zelto::sim
