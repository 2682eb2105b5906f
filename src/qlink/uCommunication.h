#pragma once
// TCommunicator: the Q-link engine towards one controller at a time. It sends request frames to the
// controller's address (or, while that is unknown, to the chosen adapter's directed broadcast address, UDP
// port 8442), waits for the answer that the receive thread hands over, and repeats a request that gets no
// answer. The controller commands are methods of this class built on SendFrame.
//
// Threads: the owner's thread (in the server, the request thread that holds the request lock) calls every
// public operation and SendFrame/WaitForAnswer. The receive thread calls ReceiveDatagram, one datagram at a
// time. They share the answer fields and the state; fLock guards them. The caller resets the fields and
// enters csWAITING before a request leaves and reads the answer fields only after it has seen csREADY; the
// receive thread writes the answer fields first and the state last, then wakes the caller.
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "net/uEthernetUtils.h"
#include "qlink/uQLink.h"
#include "qlink/uUDPSocket.h"

namespace zelto {

// The transport enters csNONE (after creation), csWAITING, csRECEIVING and csREADY only.
enum TCommState { csNONE, csIDLE, csREADY, csSENDING, csWAITING, csRECEIVING, csNEWMESSAGE };

class TCommunicator {
public:
    // A communicator on the real UDP socket.
    TCommunicator();
    // A communicator on the given socket (tests pass a scripted one); nullptr gives one without a socket.
    explicit TCommunicator(std::unique_ptr<TUDPSocket> UDPDriver);
    virtual ~TCommunicator();
    TCommunicator(const TCommunicator&) = delete;
    TCommunicator& operator=(const TCommunicator&) = delete;

    static constexpr int kDefaultWaitTime = 500;   // ms per attempt
    static constexpr int kDefaultNoRetries = 3;    // sends of one request
    static constexpr std::size_t kMaxDatagram = 2048;  // longer datagrams are dropped

    // Activates the socket (bind to all local addresses, a port chosen by the system, start of delivery).
    // False without a socket or when activation fails. Opening an open socket is harmless.
    bool Open();
    void Close();
    // Pings the controller; on an answer remembers the address it came from as ZeltoIP.
    bool Connect();
    // Sends a request without data and waits for its answer.
    bool SendCommand(uint8_t Command);
    // A new NAD forgets the controller's address, so that requests are broadcast until Connect.
    void SetZeltoNAD(int32_t Value);
    // Rebinds the socket to the adapter's address, keeping its active state; errors are swallowed.
    void BindEthernetAdapter();

    int WaitTime() const { return fWaitTime; }
    void SetWaitTime(int Value) { fWaitTime = Value; }
    int32_t ZeltoNAD() const { return fZeltoNAD; }
    const std::string& ZeltoIP() const { return fZeltoIP; }
    const TEthernetAdapterInfo* EthAdapter() const { return fEthAdapter; }
    void SetEthAdapter(const TEthernetAdapterInfo* Value) { fEthAdapter = Value; }
    const TEthernetAdapterInfoList* EthAdapterList() const { return fEthAdapterList; }
    void SetEthAdapterList(const TEthernetAdapterInfoList* Value) { fEthAdapterList = Value; }
    int32_t TransferDate() const { return fTransferDate; }
    uint16_t PasswordCRC() const { return fPasswordCRC; }
    void SetPasswordCRC(uint16_t Value) { fPasswordCRC = Value; }
    TCommState CommState() const { return fCommState.load(); }

protected:
    // Sends a built frame to the controller (or the broadcast address) and waits for an accepted answer, up
    // to fNoRetries attempts of fWaitTime each. True when an answer was accepted: it is then in fLastData,
    // fLastIP, fSenderNAD, fReceiverNAD and fLastAnswer. fWaitTime is 500 again afterwards.
    bool SendFrame(std::span<const uint8_t> Frame);
    // Waits until the receive thread accepts an answer or Timeout ms have passed since the attempt began.
    bool WaitForAnswer(int Timeout);
    // Builds a request to fZeltoNAD with the given data and runs SendFrame; false also when the data are
    // too long for a frame.
    bool SendRequest(uint8_t Command, std::span<const uint8_t> Data);

    // Detection mode (autodetection): every accepted answer's sender NAD and address are collected, once per
    // NAD, and the wait goes on until its time-out. StartCollecting empties the lists and switches the
    // mode on; StopCollecting switches it off and hands the lists over.
    void StartCollecting();
    void StopCollecting(std::vector<std::string>& NADList, std::vector<std::string>& IPList);

    // Read event of the socket, on the receive thread: gathers frame text, accepts answers.
    void ReceiveDatagram(std::span<const uint8_t> Datagram, const TUDPEndpoint& Peer, const TUDPEndpoint& Local);

    std::unique_ptr<TUDPSocket> fUDPDriver;
    const TEthernetAdapterInfo* fEthAdapter = nullptr;          // not owned
    const TEthernetAdapterInfoList* fEthAdapterList = nullptr;  // not owned; held for the owner
    std::atomic<TCommState> fCommState{csNONE};
    // Shared with the receive thread, guarded by fLock:
    std::string RecMessage;   // frame text received so far in the current wait
    std::string fLastAnswer;  // frame text of the last accepted answer
    std::string fLastIP;      // sender address of the last accepted answer
    std::string fLastData;    // answer data text of the last accepted answer
    int32_t fSenderNAD = 0;
    int32_t fReceiverNAD = 0;
    // The owner's thread only:
    std::string fZeltoIP;
    int32_t fZeltoNAD = -1;
    uint16_t fPasswordCRC = 0;
    int fWaitTime = kDefaultWaitTime;
    int fNoRetries = kDefaultNoRetries;
    // Detection mode, guarded by fLock:
    bool fListZeltosReq = false;
    std::vector<std::string> fNADList;
    std::vector<std::string> fIPList;
    int32_t fTransferDate = 0;

private:
    // Both run under fLock; true when the waiting caller must be woken.
    bool ReceiveText(const std::string& Text, const TUDPEndpoint& Peer, const TUDPEndpoint& Local);
    bool AcceptAnswer(int32_t SenderNAD, int32_t ReceiverNAD, std::string Data, const TUDPEndpoint& Peer,
                      const TUDPEndpoint& Local);
    void LogTransmit(const std::string& Destination, std::span<const uint8_t> Frame);

    std::mutex fLock;
    std::condition_variable fAnswered;
    std::chrono::steady_clock::time_point fAttemptStart;
};

// "%21s": the text right-aligned in 21 characters, never cut.
std::string PadLeft21(const std::string& Text);

}  // namespace zelto
