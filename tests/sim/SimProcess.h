#pragma once
// The ZeltoSim program as a child process of a test (inside the test's network namespace): started with
// arguments, its first line of output read, signalled, and ended with SIGTERM.
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

extern char** environ;

namespace zelto::test {

class TSimProcess {
public:
    TSimProcess() = default;
    TSimProcess(const TSimProcess&) = delete;
    TSimProcess& operator=(const TSimProcess&) = delete;
    ~TSimProcess() { Stop(); }

    // Starts the program and reads its output until the first line is complete (at most TimeoutMs).
    // Returns what came (more than one line when the program wrote them at once).
    std::string Start(const std::string& Exe, const std::vector<std::string>& Args, int TimeoutMs = 5000) {
        int out[2];
        if (::pipe(out) != 0) return "";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> all = {Exe};
        all.insert(all.end(), Args.begin(), Args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&fPid, Exe.c_str(), &actions, nullptr, argv.data(), environ) != 0) fPid = 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        std::string text;
        pollfd p{out[0], POLLIN, 0};
        while (fPid != 0 && text.find('\n') == std::string::npos && ::poll(&p, 1, TimeoutMs) == 1) {
            char buf[256];
            const auto n = ::read(out[0], buf, sizeof buf);
            if (n <= 0) break;
            text.append(buf, static_cast<std::size_t>(n));
        }
        fOutput = out[0];  // kept open: the program's later lines land in the pipe
        return text;
    }

    bool Signal(int Sig) const { return fPid != 0 && ::kill(fPid, Sig) == 0; }

    // Ends the program with SIGTERM; its exit status as waitpid gives it, or -1 when none ran.
    int Stop() {
        if (fPid == 0) {
            if (fOutput >= 0) ::close(fOutput);
            fOutput = -1;
            return -1;
        }
        ::kill(fPid, SIGTERM);
        int status = 0;
        ::waitpid(fPid, &status, 0);
        fPid = 0;
        ::close(fOutput);
        fOutput = -1;
        return status;
    }

private:
    pid_t fPid = 0;
    int fOutput = -1;
};

}  // namespace zelto::test
