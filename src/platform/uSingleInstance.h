#pragma once
// One running copy per instance name and user. The first copy binds an abstract Unix socket named after
// the instance name and the user id (binding is the "mutex": the kernel frees the name when the process
// ends, however it ends) and listens on it; a later copy finds the name taken, connects and sends "wake",
// which the first copy hands to its wake callback on a thread of its own.
#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace zelto {

class TSingleInstance {
public:
    explicit TSingleInstance(std::string instanceName);
    ~TSingleInstance();  // stops listening and frees the name
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // Takes the name. True: this is the first copy, and onWake is called (on the listening thread) for
    // every later copy that starts. False: another copy holds the name; it has been sent "wake" (when it
    // answers within timeoutMs). Throws std::system_error when the socket cannot be made at all.
    bool Acquire(std::function<void()> onWake, int timeoutMs = 2000);

    // The socket name without its leading zero byte (for messages and tests).
    const std::string& SocketName() const { return fSocketName; }

private:
    void WakeOther(int timeoutMs);
    void ListenLoop();

    std::string fSocketName;
    int fFd = -1;
    std::atomic<bool> fStopping{false};
    std::function<void()> fOnWake;
    std::thread fThread;
};

}  // namespace zelto
