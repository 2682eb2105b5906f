// Autodetection of TCommunicator: one broadcast ping to every controller, then a listening period in
// which every answer is collected.
#include "qlink/uCommunication.h"

namespace zelto {

namespace {

// Gives the communicator back its controller, retry count and wait time when the detection ends, also when
// the log throws on the way.
class TDetectionRestore {
public:
    TDetectionRestore(int32_t& NAD, std::string& IP, int& NoRetries, int& WaitTime)
        : fNAD(NAD), fIP(IP), fNoRetries(NoRetries), fWaitTime(WaitTime), fSavedNAD(NAD), fSavedIP(IP),
          fSavedNoRetries(NoRetries), fSavedWaitTime(WaitTime) {}
    ~TDetectionRestore() {
        fNAD = fSavedNAD;
        fIP = fSavedIP;
        fNoRetries = fSavedNoRetries;
        fWaitTime = fSavedWaitTime;
    }
    TDetectionRestore(const TDetectionRestore&) = delete;
    TDetectionRestore& operator=(const TDetectionRestore&) = delete;

private:
    int32_t& fNAD;
    std::string& fIP;
    int& fNoRetries;
    int& fWaitTime;
    const int32_t fSavedNAD;
    const std::string fSavedIP;
    const int fSavedNoRetries;
    const int fSavedWaitTime;
};

}  // namespace

bool TCommunicator::DetectZeltos(std::vector<std::string>* NADList, std::vector<std::string>* IPList, int Timeout) {
    if (NADList == nullptr || IPList == nullptr) return false;
    {
        TDetectionRestore restore(fZeltoNAD, fZeltoIP, fNoRetries, fWaitTime);
        // Directly, not through SetZeltoNAD: the request goes to NAD 0 at the broadcast address.
        fZeltoNAD = kBroadcastNAD;
        fZeltoIP.clear();
        fWaitTime = Timeout;
        fNoRetries = 1;
        StartCollecting();
        try {
            // Every answer is collected and the wait runs to its time-out, so the result says nothing.
            SendCommand(kCmdPing);
        } catch (...) {
            StopCollecting(*NADList, *IPList);
            throw;
        }
        StopCollecting(*NADList, *IPList);
    }
    return true;
}

}  // namespace zelto
