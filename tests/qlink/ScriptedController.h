#pragma once
// A controller played by a script over the scripted socket: each request the communicator sends is
// decoded (command, data, NADs, password checksum) and recorded, and the script's answer data, if any,
// come back as an answer frame. A sparse code memory serves the block reads of the commands.
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qlink/FakeUDPSocket.h"
#include "qlink/uByteOrder.h"
#include "qlink/uCommunication.h"
#include "qlink/uQLink.h"

namespace zelto::test {

struct TSeenRequest {
    uint8_t Command = 0;
    std::vector<uint8_t> Data;
    int32_t ReceiverNAD = 0;
    uint16_t PasswordCRC = 0;
    std::string Host;
};

// Exposes what the communicator and command tests need of the communicator's inner state.
class TTestCommunicator : public TCommunicator {
public:
    using TCommunicator::TCommunicator;
    using TCommunicator::SendRequest;
    using TCommunicator::StartCollecting;
    using TCommunicator::StopCollecting;
    std::string LastData() const { return fLastData; }
    std::string LastAnswer() const { return fLastAnswer; }
    int32_t SenderNAD() const { return fSenderNAD; }
    int NoRetries() const { return fNoRetries; }
    void SetNoRetries(int Value) { fNoRetries = Value; }
};

class TScriptedController {
public:
    // Answer data for a request, or nothing to stay silent.
    using TScript = std::function<std::optional<std::vector<uint8_t>>(const TSeenRequest& Request)>;

    TScriptedController(TFakeUDPSocket& Socket, TScript Script, int32_t NAD = 10, std::string From = "10.1.2.7")
        : fScript(std::move(Script)), fNAD(NAD), fFrom(std::move(From)) {
        Socket.SetResponder([this](TFakeUDPSocket& s, const TSentDatagram& sent, int) {
            TSeenRequest request = Decode(sent);
            {
                std::lock_guard<std::mutex> lock(fMutex);
                fRequests.push_back(request);
            }
            if (auto answer = fScript(request)) s.Inject(BuildAnswerFrame(fNAD, kServerNAD, 0, *answer), fFrom);
        });
    }

    std::vector<TSeenRequest> Requests() const {
        std::lock_guard<std::mutex> lock(fMutex);
        return fRequests;
    }
    void ClearRequests() {
        std::lock_guard<std::mutex> lock(fMutex);
        fRequests.clear();
    }

    // The (segment, size) of every ReadCode request so far.
    std::vector<std::pair<int, int>> CodeReads() const {
        std::vector<std::pair<int, int>> reads;
        for (const auto& r : Requests())
            if (r.Command == kCmdReadCode) reads.emplace_back(GetU16LE(r.Data, 0), GetU16LE(r.Data, 2));
        return reads;
    }

    static TSeenRequest Decode(const TSentDatagram& Sent) {
        const auto& b = Sent.Bytes;
        TSeenRequest r;
        r.ReceiverNAD = GetS32LE(b, 8);
        r.Command = b[14];
        r.Data.assign(b.begin() + 15, b.end() - 4);
        r.PasswordCRC = GetU16LE(b, b.size() - 4);
        r.Host = Sent.Host;
        return r;
    }

private:
    TScript fScript;
    int32_t fNAD;
    std::string fFrom;
    mutable std::mutex fMutex;
    std::vector<TSeenRequest> fRequests;
};

// Code memory for scripted controllers: placed regions, and a pattern byte of the address elsewhere.
class TCodeImage {
public:
    void Place(uint32_t Address, const std::vector<uint8_t>& Bytes) {
        for (std::size_t i = 0; i < Bytes.size(); ++i) fBytes[Address + static_cast<uint32_t>(i)] = Bytes[i];
    }
    uint8_t At(uint32_t Address) const {
        const auto it = fBytes.find(Address);
        return it != fBytes.end() ? it->second : Pattern(Address);
    }
    static uint8_t Pattern(uint32_t Address) { return static_cast<uint8_t>(Address * 7 + (Address >> 8) + 3); }
    // The answer to ReadCode(Seg_num, Block_size).
    std::vector<uint8_t> Segment(uint16_t Seg, uint16_t Size) const {
        std::vector<uint8_t> out(Size);
        for (uint32_t i = 0; i < Size; ++i) out[i] = At(Seg * 256u + i);
        return out;
    }
    // A script that serves ReadCode from this image and stays silent to everything else.
    TScriptedController::TScript CodeReader() const {
        return [this](const TSeenRequest& r) -> std::optional<std::vector<uint8_t>> {
            if (r.Command != kCmdReadCode) return std::nullopt;
            return Segment(GetU16LE(r.Data, 0), GetU16LE(r.Data, 2));
        };
    }

private:
    std::map<uint32_t, uint8_t> fBytes;
};

// A communicator for NAD 10 on an open scripted socket, with an adapter whose broadcast address is
// 10.1.2.255.
class TScriptedCommTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto socket = std::make_unique<TFakeUDPSocket>();
        fSocket = socket.get();
        fComm = std::make_unique<TTestCommunicator>(std::move(socket));
        fComm->SetEthAdapter(&fAdapter);
        fComm->SetZeltoNAD(10);
        ASSERT_TRUE(fComm->Open());
    }
    // Answers the requests with what the script returns.
    void Script(TScriptedController::TScript script) {
        fController = std::make_unique<TScriptedController>(*fSocket, std::move(script));
    }

    TEthernetAdapterInfo fAdapter{"eth9", "Ethernet eth9", "10.1.2.3", "255.255.255.0"};
    TFakeUDPSocket* fSocket = nullptr;
    std::unique_ptr<TTestCommunicator> fComm;
    std::unique_ptr<TScriptedController> fController;
};

}  // namespace zelto::test
