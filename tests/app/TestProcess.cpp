#include "app/TestProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>

extern char** environ;

namespace zelto::test {

namespace {

std::string FileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

using Clock = std::chrono::steady_clock;

int MsLeft(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

}  // namespace

TTestProcess::TTestProcess(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                           const std::map<std::string, std::string>& env, const std::string& name)
    : fOut(dir + "/" + name + ".out"), fErr(dir + "/" + name + ".err") {
    std::vector<std::string> envText;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (env.count(entry.substr(0, entry.find('='))) == 0) envText.push_back(entry);
    }
    for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& e : envText) envp.push_back(e.data());
    envp.push_back(nullptr);
    std::vector<std::string> argText{program};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argText) argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, fOut.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, fErr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir.c_str());
    if (posix_spawn(&fPid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) fPid = -1;
    posix_spawn_file_actions_destroy(&actions);
}

TTestProcess::~TTestProcess() {
    if (Running()) {
        ::kill(fPid, SIGKILL);
        Wait(5000);
    }
}

bool TTestProcess::Running() {
    if (fPid < 0 || fStatus >= 0) return false;
    int status = 0;
    if (::waitpid(fPid, &status, WNOHANG) == fPid) {
        fStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return false;
    }
    return true;
}

int TTestProcess::Wait(int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    // A process descriptor becomes readable when the process ends.
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, fPid, 0));
    while (Running()) {
        const int left = MsLeft(deadline);
        if (left == 0) break;
        pollfd p{pidfd, POLLIN, 0};
        ::poll(&p, pidfd >= 0 ? 1 : 0, pidfd >= 0 ? left : std::min(left, 10));
    }
    if (pidfd >= 0) ::close(pidfd);
    return fStatus;
}

void TTestProcess::Signal(int sig) {
    if (Running()) ::kill(fPid, sig);
}

std::string TTestProcess::Stdout() const { return FileText(fOut); }
std::string TTestProcess::Stderr() const { return FileText(fErr); }

bool TTestProcess::WaitForStdout(const std::string& text, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (Stdout().find(text) != std::string::npos) return true;
        if (!Running() || MsLeft(deadline) == 0) return Stdout().find(text) != std::string::npos;
        pollfd none{-1, 0, 0};
        ::poll(&none, 0, 10);  // the output is a file: look again shortly
    }
}

}  // namespace zelto::test
