#include "sim/uSimServer.h"

#include <netinet/udp.h>
#include <sys/socket.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <stdexcept>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>

#include "qlink/uQLink.h"

namespace zelto::sim {

namespace asio = boost::asio;
using asio::ip::udp;

struct TSimServer::TJob {
    int IntervalMs;
    std::function<void()> Work;
    std::unique_ptr<asio::steady_timer> Timer;
};

struct TSimServer::TIO {
    asio::io_context context;
    udp::socket socket{context};
    udp::endpoint peer;
    std::array<uint8_t, 8192> buffer{};
    std::vector<TJob> jobs;
};

namespace {

// Sends datagrams of one size in a single call: the kernel cuts the joined bytes into datagrams of that
// size (UDP segmentation), so that they reach the peer together. False when this is not possible here;
// nothing has been sent then.
bool SendTogether(int Socket, const std::vector<std::vector<uint8_t>>& All, const udp::endpoint& Peer) {
    if (All.size() < 2 || All[0].empty() || All[0].size() > 0xFFFF) return false;
    std::vector<uint8_t> joined;
    for (const auto& datagram : All) {
        if (datagram.size() != All[0].size()) return false;
        joined.insert(joined.end(), datagram.begin(), datagram.end());
    }
    iovec iov{joined.data(), joined.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(uint16_t))] = {};
    msghdr msg{};
    msg.msg_name = const_cast<sockaddr*>(Peer.data());
    msg.msg_namelen = static_cast<socklen_t>(Peer.size());
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control;
    msg.msg_controllen = sizeof control;
    cmsghdr* segment = CMSG_FIRSTHDR(&msg);
    segment->cmsg_level = SOL_UDP;
    segment->cmsg_type = UDP_SEGMENT;
    segment->cmsg_len = CMSG_LEN(sizeof(uint16_t));
    const auto size = static_cast<uint16_t>(All[0].size());
    std::memcpy(CMSG_DATA(segment), &size, sizeof size);
    return ::sendmsg(Socket, &msg, 0) == static_cast<ssize_t>(joined.size());
}

}  // namespace

bool ParseSimRequest(std::span<const uint8_t> Datagram, TSimRequest& Request) {
    int32_t sender = 0, receiver = 0;
    uint8_t direction = 0, flags = 0;
    std::string dataText;
    if (!ParseFrame(BytesToHex(Datagram), sender, receiver, direction, flags, dataText)) return false;
    if (direction != kDirectionRequest) return false;
    // The counted bytes after direction and flags: command, data, password checksum.
    std::vector<uint8_t> bytes(dataText.size() / 2);
    int count = 0;
    HexToBytes(dataText, bytes, count);
    if (count < 3) return false;
    Request.SenderNAD = sender;
    Request.ReceiverNAD = receiver;
    Request.Command = bytes[0];
    Request.Data.assign(bytes.begin() + 1, bytes.begin() + count - 2);
    Request.PasswordCRC = static_cast<uint16_t>(bytes[static_cast<std::size_t>(count - 2)] |
                                                (bytes[static_cast<std::size_t>(count - 1)] << 8));
    return true;
}

TSimServer::TSimServer() : fIO(std::make_unique<TIO>()) {}

TSimServer::~TSimServer() { Stop(); }

bool TSimServer::AddController(int32_t NAD) {
    if (Controller(NAD) != nullptr) return false;
    fControllers.Add(std::make_unique<TSimController>(NAD));
    return true;
}

TSimController* TSimServer::Controller(int32_t NAD) const {
    for (const auto& c : fControllers)
        if (c->NAD() == NAD) return c.get();
    return nullptr;
}

std::vector<std::vector<uint8_t>> TSimServer::HandleDatagram(std::span<const uint8_t> Datagram) {
    std::vector<std::vector<uint8_t>> answers;
    TSimRequest request;
    if (!ParseSimRequest(Datagram, request)) return answers;
    const bool broadcast = request.ReceiverNAD == kBroadcastNAD;
    std::lock_guard<std::mutex> lock(fLock);
    if (fOnRequest) fOnRequest(request);
    for (const auto& c : fControllers) {
        if (!broadcast && c->NAD() != request.ReceiverNAD) continue;
        const auto data = c->Handle(request, broadcast);
        if (data) answers.push_back(BuildAnswerFrame(c->NAD(), request.SenderNAD, 0, *data));
    }
    return answers;
}

bool TSimServer::Bind(const std::string& BindAddress, uint16_t Port, std::string& Error, const std::string& Device) {
    try {
        const auto address = BindAddress.empty() ? asio::ip::address_v4::any() : asio::ip::make_address_v4(BindAddress);
        fIO->socket.open(udp::v4());
        if (!Device.empty() && ::setsockopt(fIO->socket.native_handle(), SOL_SOCKET, SO_BINDTODEVICE, Device.c_str(),
                                            static_cast<socklen_t>(Device.size())) != 0) {
            throw std::runtime_error("Cannot listen on network adapter " + Device + ": " + std::strerror(errno));
        }
        fIO->socket.set_option(asio::socket_base::reuse_address(true));
        fIO->socket.set_option(asio::socket_base::broadcast(true));
        fIO->socket.bind(udp::endpoint(address, Port));
        return true;
    } catch (const std::exception& e) {
        Error = e.what();
        boost::system::error_code ignored;
        fIO->socket.close(ignored);
        return false;
    }
}

std::string TSimServer::BoundEndpoint() const {
    boost::system::error_code ec;
    const auto local = fIO->socket.local_endpoint(ec);
    if (ec) return "";
    return local.address().to_string() + ":" + std::to_string(local.port());
}

void TSimServer::ReceiveNext() {
    fIO->socket.async_receive_from(asio::buffer(fIO->buffer), fIO->peer,
                                   [this](const boost::system::error_code& ec, std::size_t size) {
                                       if (ec == asio::error::operation_aborted) return;
                                       if (!ec) SendAnswers(HandleDatagram({fIO->buffer.data(), size}));
                                       ReceiveNext();
                                   });
}

// Sends the answers to the peer of the current request, as the fault switches let them go.
void TSimServer::SendAnswers(const std::vector<std::vector<uint8_t>>& Answers) {
    std::vector<TSimFaults::TDatagrams> copies;
    std::vector<int> delays;  // per copy
    {
        std::lock_guard<std::mutex> lock(fLock);
        for (const auto& answer : Answers)
            for (auto& copy : fFaults.ApplyCopies(answer)) {
                copies.push_back(std::move(copy));
                delays.push_back(fFaults.NextDelayMs());
            }
        if (!fFaults.Jitters() && !copies.empty()) {
            // Without jitter everything leaves at once, after the one delay.
            for (std::size_t i = 1; i < copies.size(); ++i)
                copies[0].insert(copies[0].end(), copies[i].begin(), copies[i].end());
            copies.resize(1);
            delays.resize(1);
        }
    }
    // A duplicated answer leaves in one call, so that its copies arrive together as a duplicating network
    // delivers them. Sent one after the other, the copy could trail the first by however long this process
    // waits for the processor, and reach the peer after its next request: a late answer, not a duplicate.
    // With jitter each copy takes its own time on the way, and a copy may well arrive that late.
    auto send = [this, peer = fIO->peer](const TSimFaults::TDatagrams& all) {
        if (SendTogether(fIO->socket.native_handle(), all, peer)) return;
        for (const auto& datagram : all) {
            boost::system::error_code ignored;
            fIO->socket.send_to(asio::buffer(datagram), peer, 0, ignored);
        }
    };
    for (std::size_t i = 0; i < copies.size(); ++i) {
        if (copies[i].empty()) continue;
        if (delays[i] <= 0) {
            send(copies[i]);
            continue;
        }
        auto timer = std::make_shared<asio::steady_timer>(fIO->context, std::chrono::milliseconds(delays[i]));
        timer->async_wait([timer, send, datagrams = std::move(copies[i])](const boost::system::error_code& ec) {
            if (!ec) send(datagrams);
        });
    }
}

void TSimServer::SetOnRequest(std::function<void(const TSimRequest&)> OnRequest) {
    std::lock_guard<std::mutex> lock(fLock);
    fOnRequest = std::move(OnRequest);
}

void TSimServer::SetFaults(const TSimFaultOptions& Options) {
    std::lock_guard<std::mutex> lock(fLock);
    fFaults = TSimFaults(Options);
}

void TSimServer::TickControllers() {
    const auto now = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(now - fLastTick).count();
    fLastTick = now;
    for (const auto& c : fControllers) c->Tick(seconds);
}

void TSimServer::Every(int IntervalMs, std::function<void()> Job) {
    fIO->jobs.push_back({IntervalMs, std::move(Job), std::make_unique<asio::steady_timer>(fIO->context)});
}

void TSimServer::OnSignal(int Signal, std::function<void()> Job) { fSignalJobs.emplace_back(Signal, std::move(Job)); }

void TSimServer::StartJobs() {
    fLastTick = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < fIO->jobs.size(); ++i) ScheduleJob(i);
}

void TSimServer::ScheduleJob(std::size_t Index) {
    TJob& job = fIO->jobs[Index];
    job.Timer->expires_after(std::chrono::milliseconds(job.IntervalMs));
    job.Timer->async_wait([this, Index](const boost::system::error_code& ec) {
        if (ec) return;
        {
            std::lock_guard<std::mutex> lock(fLock);
            fIO->jobs[Index].Work();
        }
        ScheduleJob(Index);
    });
}

void TSimServer::Start() {
    StartJobs();
    ReceiveNext();
    fThread = std::thread([this] { fIO->context.run(); });
}

void TSimServer::Run() {
    asio::signal_set signals(fIO->context, SIGINT, SIGTERM);
    signals.async_wait([this](const boost::system::error_code&, int) { fIO->context.stop(); });
    asio::signal_set jobSignals(fIO->context);
    for (const auto& entry : fSignalJobs) jobSignals.add(entry.first);
    std::function<void()> waitForJobSignal = [&] {
        jobSignals.async_wait([&](const boost::system::error_code& ec, int received) {
            if (ec) return;
            {
                std::lock_guard<std::mutex> lock(fLock);
                for (const auto& [sig, job] : fSignalJobs)
                    if (sig == received) job();
            }
            waitForJobSignal();
        });
    };
    if (!fSignalJobs.empty()) waitForJobSignal();
    StartJobs();
    ReceiveNext();
    fIO->context.run();
}

void TSimServer::Stop() {
    fIO->context.stop();
    if (fThread.joinable()) fThread.join();
}

}  // namespace zelto::sim
