#pragma once
// Starts a program for a test with its output in files, and waits for it with a deadline.
#include <sys/types.h>

#include <map>
#include <string>
#include <vector>

namespace zelto::test {

class TTestProcess {
public:
    // Starts program with args in folder dir; env entries are added to (or replace in) the environment.
    // stdout and stderr go to dir/<name>.out and dir/<name>.err.
    TTestProcess(const std::string& program, const std::vector<std::string>& args, const std::string& dir,
                 const std::map<std::string, std::string>& env, const std::string& name);
    ~TTestProcess();  // kills the process if it still runs

    pid_t Pid() const { return fPid; }
    // Waits until the process ends; its exit status, -1 on time-out, 128 + signal when killed.
    int Wait(int timeoutMs);
    bool Running();
    void Signal(int sig);
    std::string Stdout() const;
    std::string Stderr() const;
    // Waits until text appears in stdout; false on time-out or when the process ended first.
    bool WaitForStdout(const std::string& text, int timeoutMs);

private:
    pid_t fPid = -1;
    int fStatus = -1;
    std::string fOut, fErr;
};

}  // namespace zelto::test
