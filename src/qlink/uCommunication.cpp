#include "qlink/uCommunication.h"
#include "qlink/uExchangeObserver.h"

#include <algorithm>

#include "log/uLog.h"
#include "qlink/hQLinkCommands.h"
#include "qlink/uPollUDPSocket.h"
#include "qlink/uByteOrder.h"

namespace zelto {

namespace {

std::string EndpointText(const std::string& ip, uint16_t port) { return ip + ":" + std::to_string(port); }

// Puts the wait time back to its default when an exchange ends, also when the log throws.
class TWaitTimeReset {
public:
    explicit TWaitTimeReset(int& waitTime) : fWaitTime(waitTime) {}
    ~TWaitTimeReset() { fWaitTime = TCommunicator::kDefaultWaitTime; }
    TWaitTimeReset(const TWaitTimeReset&) = delete;
    TWaitTimeReset& operator=(const TWaitTimeReset&) = delete;

private:
    int& fWaitTime;
};

}  // namespace

std::string PadLeft21(const std::string& Text) {
    constexpr std::size_t kWidth = 21;
    return Text.size() >= kWidth ? Text : std::string(kWidth - Text.size(), ' ') + Text;
}

TCommunicator::TCommunicator() : TCommunicator(std::make_unique<TPollUDPSocket>()) {}

TCommunicator::TCommunicator(std::unique_ptr<TUDPSocket> UDPDriver) : fUDPDriver(std::move(UDPDriver)) {
    if (fUDPDriver) {
        fUDPDriver->SetOnRead([this](std::span<const uint8_t> Datagram, const TUDPEndpoint& Peer,
                                     const TUDPEndpoint& Local, TArrivalTime Arrived) {
            ReceiveDatagram(Datagram, Peer, Local, Arrived);
        });
    }
}

TCommunicator::~TCommunicator() {
    // The socket goes first: once it is closed no datagram can reach the members below.
    fUDPDriver.reset();
}

bool TCommunicator::Open() {
    if (!fUDPDriver) return false;
    try {
        return fUDPDriver->Activate() && fUDPDriver->Active();
    } catch (const std::exception&) {
        return false;
    }
}

void TCommunicator::Close() {
    if (fUDPDriver) fUDPDriver->Deactivate();
}

bool TCommunicator::Connect() {
    if (!SendCommand(kCmdPing)) return false;
    std::lock_guard<std::mutex> lock(fLock);
    fZeltoIP = fLastIP;
    return true;
}

bool TCommunicator::SendCommand(uint8_t Command) { return SendRequest(Command, {}); }

void TCommunicator::SetZeltoNAD(int32_t Value) {
    if (Value == fZeltoNAD) return;
    fZeltoNAD = Value;
    fZeltoIP.clear();
}

void TCommunicator::BindEthernetAdapter() {
    if (!fUDPDriver) return;
    try {
        const bool wasActive = fUDPDriver->Active();
        fUDPDriver->Deactivate();
        if (fEthAdapter) fUDPDriver->SetLocalAddress(fEthAdapter->IPAddress());
        if (wasActive) fUDPDriver->Activate();
    } catch (const std::exception&) {
        // A socket that cannot be rebound stays as the failure left it; the next Open tells.
    }
}

bool TCommunicator::SendRequest(uint8_t Command, std::span<const uint8_t> Data) {
    if (Data.size() > static_cast<std::size_t>(kMaxRequestData)) return false;
    TFrameBuffer frame{};
    std::copy(Data.begin(), Data.end(), frame.begin());
    auto len = static_cast<uint16_t>(Data.size());
    if (!BuildFrame(kServerNAD, fZeltoNAD, Command, kDirectionRequest, 0, frame, len, fPasswordCRC)) return false;
    return SendFrame(std::span<const uint8_t>(frame.data(), len));
}

bool TCommunicator::SendFrame(std::span<const uint8_t> Frame) {
    TWaitTimeReset reset(fWaitTime);
    // Each exchange sends from a port of its own: an answer to an earlier exchange that is still on its way
    // (late, or a duplicate) reaches a port where nobody waits. The attempts of one exchange share the port,
    // so a late answer to the first attempt still answers the request.
    if (fUDPDriver && fUDPDriver->Active()) fUDPDriver->TakeNewPort();
    const int answerSize = AnswerDataSize(Frame);
    bool answered = false;
    bool sent = false;
    for (int attempt = 0; attempt < fNoRetries && !answered; ++attempt) {
        {
            // Ready for the answer before the request leaves, so that a quick answer is not missed. A
            // datagram is taken only under the lock, after the request is sent and logged, so the log shows
            // every answer after its request.
            std::lock_guard<std::mutex> lock(fLock);
            RecMessage.clear();
            fLastAnswer.clear();
            fLastIP.clear();
            fAskedNAD = Frame.size() >= kFrameHeadSize ? GetS32LE(Frame, kReceiverNADOffset) : fZeltoNAD;
            fAskedIP = fZeltoIP;
            fAskedAnswerSize = answerSize;
            fAttemptStart = std::chrono::steady_clock::now();
            if (attempt == 0) fRequestStart = fAttemptStart;
            fCommState = csWAITING;
            std::string destination;
            if (!fZeltoIP.empty()) {
                destination = fZeltoIP;
            } else if (fEthAdapter != nullptr) {
                destination = fEthAdapter->BroadcastAddress();
            }
            if (!destination.empty() && (!fUDPDriver || !fUDPDriver->SendTo(Frame, destination, kQLinkPort)))
                destination.clear();
            LogTransmit(destination, Frame);
            sent = sent || !destination.empty();
        }
        answered = WaitForAnswer(fWaitTime);
    }
    NoteExchange(fAskedNAD, answered ? TExchangeResult::Answered : sent ? TExchangeResult::Timeout : TExchangeResult::Refused);
    return answered;
}

bool TCommunicator::WaitForAnswer(int Timeout) {
    const auto ready = [this] { return fCommState == csREADY; };
    std::unique_lock<std::mutex> lock(fLock);
    const auto deadline = fAttemptStart + std::chrono::milliseconds(Timeout);
    lock.unlock();
    // The real socket delivers right here, on this thread; a socket with a thread of its own wakes us.
    const bool here = fUDPDriver && fUDPDriver->ReceiveUntil(deadline, [&] {
        std::lock_guard<std::mutex> check(fLock);
        return ready();
    });
    lock.lock();
    const bool answered = here ? ready() : fAnswered.wait_until(lock, deadline, ready);
    if (!answered) fCommState = csREADY;
    return answered;
}

void TCommunicator::StartCollecting() {
    std::lock_guard<std::mutex> lock(fLock);
    fNADList.clear();
    fIPList.clear();
    fListZeltosReq = true;
}

void TCommunicator::StopCollecting(std::vector<std::string>& NADList, std::vector<std::string>& IPList) {
    std::lock_guard<std::mutex> lock(fLock);
    fListZeltosReq = false;
    NADList = fNADList;
    IPList = fIPList;
}

void TCommunicator::ReceiveDatagram(std::span<const uint8_t> Datagram, const TUDPEndpoint& Peer,
                                    const TUDPEndpoint& Local, TArrivalTime Arrived) {
    // No frame is longer than 1040 bytes; a datagram beyond the receive buffer is not looked at.
    if (Datagram.size() > kMaxDatagram) return;
    const TCommState state = fCommState;
    if (state != csWAITING && state != csRECEIVING) return;
    const std::string text = BytesToHex(Datagram);
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(fLock);
        if (fCommState != csWAITING && fCommState != csRECEIVING) return;
        if (Arrived < fRequestStart) {
            // Older than the request: an answer to an earlier one. Taking it would hand the previous
            // request's data to this one. It leaves the gathered text alone.
            LogStale(Peer, Local, text);
            return;
        }
        wake = ReceiveText(text, Peer, Local);
    }
    if (wake) fAnswered.notify_one();
}

bool TCommunicator::ReceiveText(const std::string& Text, const TUDPEndpoint& Peer, const TUDPEndpoint& Local) {
    if (fCommState != csWAITING && fCommState != csRECEIVING) return false;
    if (!MayAnswer(Peer)) return false;
    // The datagram continues the gathered frame when it comes from the same sender and the two together
    // are still a frame's beginning (continues), or a whole frame that parses (completes).
    bool continues = false, completes = false;
    std::string joined;
    if (!RecMessage.empty() && Peer.IP == fRecPeer.IP && Peer.Port == fRecPeer.Port) {
        joined = RecMessage + Text;
        const std::size_t size = FrameTextSize(joined);
        int32_t sender = 0, receiver = 0;
        uint8_t direction = 0, flags = 0;
        std::string data;
        continues = size != 0 && (size == kFrameSizeUnknown || joined.size() < size);
        completes = size != 0 && !continues && ParseFrame(joined, sender, receiver, direction, flags, data);
    }
    const std::size_t start = FindFrameStart(Text);
    if (completes || (continues && start != 0)) {
        RecMessage = std::move(joined);  // also when the rest holds "AA55" among its data
    } else if (start != std::string::npos) {
        RecMessage = Text.substr(start);
        fRecPeer = Peer;
    } else {
        return false;  // noise: neither a frame's beginning nor the rest of the gathered one
    }
    return TakeFrame(Peer, Local);
}

bool TCommunicator::TakeFrame(const TUDPEndpoint& Peer, const TUDPEndpoint& Local) {
    const std::size_t size = FrameTextSize(RecMessage);
    if (size != 0 && (size == kFrameSizeUnknown || RecMessage.size() < size)) {
        fCommState = csRECEIVING;  // the rest is to come
        return false;
    }
    int32_t sender = 0, receiver = 0;
    uint8_t direction = 0, flags = 0;
    std::string data;
    if (size == 0 || !ParseFrame(RecMessage, sender, receiver, direction, flags, data)) {
        WaitForNextFrame();  // an impossible head or a whole frame with a wrong checksum
        return false;
    }
    if (direction != kDirectionAnswer || flags != 0 || receiver != kServerNAD || !FromAskedController(sender, Peer)) {
        // Not the answer to this request (an echo of a request, a flagged frame, an answer to another
        // station or from another controller): dropped, and the wait goes on, so that no command reads
        // another frame's data as its own.
        WaitForNextFrame();
        return false;
    }
    if (fAskedNAD != kBroadcastNAD && fAskedAnswerSize != kAnswerSizeAny &&
        data.size() > 2 * static_cast<std::size_t>(fAskedAnswerSize)) {
        // More data than this command's answer carries: the answer to another command (a late one, or a
        // forged one), whose bytes would be read as this command's values. A shorter one is taken and
        // fails the command.
        WaitForNextFrame();
        return false;
    }
    return AcceptAnswer(sender, receiver, std::move(data), Peer, Local);
}

bool TCommunicator::MayAnswer(const TUDPEndpoint& Peer) const {
    if (fAskedNAD == kBroadcastNAD) return true;  // every controller was asked
    // A controller answers from its Q-link port, and once its address is known from that address only.
    return Peer.Port == kQLinkPort && (fAskedIP.empty() || Peer.IP == fAskedIP);
}

bool TCommunicator::FromAskedController(int32_t SenderNAD, const TUDPEndpoint& Peer) const {
    if (fAskedNAD == kBroadcastNAD) return true;
    return SenderNAD == fAskedNAD && MayAnswer(Peer);
}

void TCommunicator::WaitForNextFrame() {
    RecMessage.clear();
    fCommState = csWAITING;
}

bool TCommunicator::AcceptAnswer(int32_t SenderNAD, int32_t ReceiverNAD, std::string Data, const TUDPEndpoint& Peer,
                                 const TUDPEndpoint& Local) {
    fSenderNAD = SenderNAD;
    fReceiverNAD = ReceiverNAD;
    fLastAnswer = RecMessage;
    fLastData = std::move(Data);
    fLastIP = Peer.IP;
    try {
        MyLog.AddComLog("Rx " + PadLeft21(EndpointText(Peer.IP, Peer.Port)) + " -> " +
                        PadLeft21(EndpointText(Local.IP, Local.Port)) + ", " + RecMessage);
    } catch (const std::exception&) {
        // A log file that cannot be written must not cost the answer.
    }
    if (fListZeltosReq) {
        const std::string nad = std::to_string(SenderNAD);
        if (std::find(fNADList.begin(), fNADList.end(), nad) == fNADList.end()) {
            fNADList.push_back(nad);
            fIPList.push_back(Peer.IP);
        }
        RecMessage.clear();
        fCommState = csWAITING;
        return false;
    }
    fCommState = csREADY;
    return true;
}

void TCommunicator::LogStale(const TUDPEndpoint& Peer, const TUDPEndpoint& Local, const std::string& Text) {
    if (!MyLog.LogStaleAnswers) return;  // only when asked for: by default the log has sent and received frames
    try {
        MyLog.AddComLog("Old " + PadLeft21(EndpointText(Peer.IP, Peer.Port)) + " -> " +
                        PadLeft21(EndpointText(Local.IP, Local.Port)) + ", arrived before the request, dropped: " +
                        Text);
    } catch (const std::exception&) {
        // As for an accepted answer: the log must not disturb the exchange.
    }
}

void TCommunicator::LogTransmit(const std::string& Destination, std::span<const uint8_t> Frame) {
    const std::string local =
        fUDPDriver ? EndpointText(fUDPDriver->LocalAddress(), fUDPDriver->LocalPort()) : EndpointText("", 0);
    MyLog.AddComLog("Tx " + PadLeft21(local) + " -> " + PadLeft21(Destination + ":" + std::to_string(kQLinkPort)) +
                    ", " + BytesToHex(Frame));
}

}  // namespace zelto
