#pragma once
// TCommunicator: the Q-link engine towards one controller at a time. It sends request frames to the
// controller's address (or, while that is unknown, to the chosen adapter's directed broadcast address, UDP
// port 8442), waits for the answer, and repeats a request that gets no answer. The controller commands are
// methods of this class built on SendFrame.
//
// Threads: the owner's thread (in the server, the request thread whose turn it is on this controller) calls every
// public operation and SendFrame/WaitForAnswer. ReceiveDatagram is called one datagram at a time: by the
// real socket on the owner's thread while it waits, by a socket with a thread of its own (a test's) on that
// thread. They share the answer fields and the state; fLock guards them. The caller resets the fields and
// enters csWAITING before a request leaves and reads the answer fields only after it has seen csREADY;
// ReceiveDatagram writes the answer fields first and the state last, then wakes the caller.
//
// Answers carry no request number, so an answer is taken only when it can be the answer to the request
// that waits. Each request (exchange) sends from a local port of its own (TakeNewPort), so an answer to an
// earlier request that is still on its way (late, or duplicated on the network) reaches a port where
// nobody waits and the system drops it; the attempts of one request share its port, so a late answer to
// an earlier attempt of the same request is still its answer. On the port itself a datagram that reached
// the host before the request's first attempt was sent cannot answer it, so it is dropped. An answer
// counts only when it comes from the controller asked: from the Q-link port (8442), from the controller's
// address once that is known, with the NAD the request went to as its sender, and with no more data than
// this command's answer carries (AnswerDataSize: a longer one belongs to another command and its bytes
// would be taken for values; a shorter one is taken and fails the command). Anything else is dropped and
// the wait goes on. A ping to every controller (NAD 0, autodetection) takes any answer.
//
// Frame text is gathered over datagrams from one sender. A datagram that neither begins a frame nor
// continues the one being gathered is dropped and leaves the gathered text alone; one that begins a frame
// while the gathered text is not yet a frame starts the text anew, so noise never spoils the answer
// behind it.
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "base/Variant.h"
#include "net/uEthernetUtils.h"
#include "qlink/hCodeMemory.h"
#include "qlink/hQLinkCommands.h"
#include "qlink/uQLink.h"
#include "qlink/uUDPSocket.h"
#include "vars/uZeltoVars.h"

namespace zelto {

// The transport enters csNONE (after creation), csWAITING, csRECEIVING and csREADY only.
enum TCommState { csNONE, csIDLE, csREADY, csSENDING, csWAITING, csRECEIVING, csNEWMESSAGE };

// Bytes of controller memory read into or written from the program (code blocks, the file table, the ALC
// archive); the position is always the start.
using TMemoryStream = std::string;

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
    // Whether the socket is active (delivering datagrams).
    bool IsOpen() const { return fUDPDriver && fUDPDriver->Active(); }
    // Pings the controller; on an answer remembers the address it came from as ZeltoIP.
    bool Connect();
    // Sends a request without data and waits for its answer.
    bool SendCommand(uint8_t Command);
    // A new NAD forgets the controller's address, so that requests are broadcast until Connect.
    void SetZeltoNAD(int32_t Value);
    // Rebinds the socket to the adapter's address, keeping its active state; errors are swallowed.
    void BindEthernetAdapter();

    // Controller commands (uCommCommands.cpp). Each sends one request to ZeltoNAD with up to fNoRetries
    // attempts and reports failure only through its result: no answer, a short answer or an invalid header
    // give false, never an exception.
    bool Ping();
    // System and program status. Each out-parameter is written only when its byte is in range; a byte out
    // of range makes the result false.
    bool ReadStatus(TSysStatus& sys_status, TPLCStatus& plc_status);
    // Up to five ReadStatus; true when one answered with ssKernel and psRun.
    bool CheckIfZeltoIsRunning();
    // The controller holds a valid program (short header read in up to five tries).
    bool CheckCode();
    // The program's transfer date equals the one seen last; the date read becomes the one seen last.
    bool CheckDateNotChanged();
    // On success CodeHead holds the newly read header.
    bool ReadCodeHeader(std::unique_ptr<TCodeHeader>& CodeHead);
    bool ReadCodeHeaderShort(std::unique_ptr<TCodeHeaderShort>& CodeHead);
    // Block_size bytes from the start of code segment Seg_num (code address Seg_num * 256) or from data
    // address Block_addr. The answer's bytes are converted into data from index 0; true when at least
    // Block_size came.
    bool ReadCode(uint16_t Seg_num, uint16_t Block_size, std::span<uint8_t> data);
    bool ReadData(uint16_t Block_addr, uint16_t Block_size, std::span<uint8_t> data);
    // Writes the first Block_size bytes of data (false, with nothing sent, when data holds fewer).
    bool WriteCode(uint16_t Seg_num, uint16_t Block_size, std::span<const uint8_t> data);
    bool WriteData(uint16_t Block_addr, uint16_t Block_size, std::span<const uint8_t> data);
    // Reads size bytes of code memory from Address into DataStream in segment-aligned blocks of up to 256
    // bytes. Stops with false at the first failed block, keeping what was read. A negative address or size,
    // a size over kMaxCodeFileSize or a range beyond the 16-bit segment numbers is refused unread.
    bool ReadToStream(int32_t Address, int32_t size, TMemoryStream* DataStream);
    // Writes the stream to code memory from segment Address div 256 on, in blocks of 256 bytes.
    bool SendStream(uint32_t Address, const TMemoryStream& DataStream);
    // Fetches the file "alc.zip" from the controller's file table. AlcStream is replaced: it stays empty
    // when there is no such file, and holds the bytes read so far when reading the file failed.
    bool ReadAlc(std::unique_ptr<TMemoryStream>& AlcStream);
    // Erases flash; the one exchange waits up to 10 s per attempt.
    bool FlashInit(uint8_t sector_flags, uint8_t clear_plc_var);
    bool DataInit();

    // Variable transfer (uCommVars.cpp). Random-access reads and writes: VarCount1 1-byte, VarCount2 2-byte
    // and VarCount4 4-byte items at the first N Addresses; the values travel in that order, little-endian.
    bool ReadRandom(int VarCount1, int VarCount2, int VarCount4, std::span<const uint16_t> Addresses,
                    std::span<uint8_t> data);
    bool WriteRandom(int VarCount1, int VarCount2, int VarCount4, std::span<const uint16_t> Addresses,
                     std::span<const uint8_t> data);
    // Reads / writes every transferable variable of the list in chunks of 100 variables per exchange.
    // ReadVars of an empty list is true, WriteVars of one false; WriteVars clears WriteReq chunk by chunk,
    // also for a chunk whose write failed.
    bool ReadVars(TZeltoVarList* VarList);
    bool WriteVars(TZeltoVarList* VarList);
    // Writes one value to one variable with WriteData; clears its WriteReq whatever the result. A value the
    // variable's type refuses is not sent (false).
    bool WriteVar(TZeltoVar* AVar, const Variant& Value);

    // Autodetection (uCommDetect.cpp): one ping to NAD 0 at the adapter's broadcast address, then Timeout ms
    // of collecting answers. The lists are replaced by the NADs (each once, in answer order) and the
    // addresses of their first answers. False only for a missing list. NAD, address, retry count and wait
    // time are as before the call afterwards.
    bool DetectZeltos(std::vector<std::string>* NADList, std::vector<std::string>* IPList, int Timeout);

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
    // Waits until an answer is accepted or Timeout ms have passed since the attempt began.
    bool WaitForAnswer(int Timeout);
    // Builds a request to fZeltoNAD with the given data and runs SendFrame; false also when the data are
    // too long for a frame.
    bool SendRequest(uint8_t Command, std::span<const uint8_t> Data);

    // Detection mode (autodetection): every accepted answer's sender NAD and address are collected, once per
    // NAD, and the wait goes on until its time-out. StartCollecting empties the lists and switches the
    // mode on; StopCollecting switches it off and hands the lists over.
    void StartCollecting();
    void StopCollecting(std::vector<std::string>& NADList, std::vector<std::string>& IPList);

    // Read event of the socket: gathers frame text, accepts answers.
    // Arrived is when the datagram reached the host.
    void ReceiveDatagram(std::span<const uint8_t> Datagram, const TUDPEndpoint& Peer, const TUDPEndpoint& Local,
                         TArrivalTime Arrived);

    std::unique_ptr<TUDPSocket> fUDPDriver;
    const TEthernetAdapterInfo* fEthAdapter = nullptr;          // not owned
    const TEthernetAdapterInfoList* fEthAdapterList = nullptr;  // not owned; held for the owner
    std::atomic<TCommState> fCommState{csNONE};
    // Shared with the read event, guarded by fLock:
    std::string RecMessage;   // frame text received so far in the current wait: the start of one frame
    TUDPEndpoint fRecPeer;    // the sender of RecMessage
    int32_t fAskedNAD = -1;   // the receiver NAD of the request waiting for its answer
    std::string fAskedIP;     // the address the request went to when the controller's is known, else ""
    int fAskedAnswerSize = kAnswerSizeAny;  // data bytes the waiting request's answer carries
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
    // These run under fLock; true when the waiting caller must be woken.
    bool ReceiveText(const std::string& Text, const TUDPEndpoint& Peer, const TUDPEndpoint& Local);
    bool TakeFrame(const TUDPEndpoint& Peer, const TUDPEndpoint& Local);
    // Whether a datagram from Peer may hold the waiting request's answer: from the Q-link port, and from the
    // controller's address once that is known (anything, when every controller was asked).
    bool MayAnswer(const TUDPEndpoint& Peer) const;
    // Whether a parsed answer frame comes from the controller the waiting request asked.
    bool FromAskedController(int32_t SenderNAD, const TUDPEndpoint& Peer) const;
    // Forgets the gathered text and waits for the next frame.
    void WaitForNextFrame();
    bool AcceptAnswer(int32_t SenderNAD, int32_t ReceiverNAD, std::string Data, const TUDPEndpoint& Peer,
                      const TUDPEndpoint& Local);
    void LogTransmit(const std::string& Destination, std::span<const uint8_t> Frame);
    // The log line of a datagram dropped because it arrived before the request was sent.
    void LogStale(const TUDPEndpoint& Peer, const TUDPEndpoint& Local, const std::string& Text);
    // Exchanges a request and converts the accepted answer's data into Answer (zeroed first, cut at its
    // end); Count is the number of bytes converted. False when no answer came.
    bool RequestAnswer(uint8_t Command, std::span<const uint8_t> Data, std::span<uint8_t> Answer, int& Count);
    // ReadCode/ReadData and WriteCode/WriteData differ only in their command.
    bool ReadBlock(uint8_t Command, uint16_t Where, uint16_t Block_size, std::span<uint8_t> data);
    bool WriteBlock(uint8_t Command, uint16_t Where, uint16_t Block_size, std::span<const uint8_t> data);
    // ReadCodeHeaderShort in up to five tries.
    std::unique_ptr<TCodeHeaderShort> ReadCodeHeaderShortRetried();

    std::mutex fLock;
    std::condition_variable fAnswered;
    std::chrono::steady_clock::time_point fAttemptStart;  // just before the attempt's request left
    TArrivalTime fRequestStart;  // fAttemptStart of the request's first attempt; guarded by fLock
};

// "%21s": the text right-aligned in 21 characters, never cut.
std::string PadLeft21(const std::string& Text);

}  // namespace zelto
