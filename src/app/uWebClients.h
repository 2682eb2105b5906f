#pragma once
// What the server offers pages and apps beyond the XML answer: the answer as JSON when the client prefers
// it, cross-origin calls from the origins the AllowOrigin setting lists (with their OPTIONS preflight),
// and live streams of values (Server-Sent Events) fed by one stream hub.
//
// Threads: the request handler calls AnswerOptions, AddOriginHeaders and AnswerVariables on the
// listener's worker threads, many at once; the streams of each client are counted under a small lock.
// Stop runs on the thread that shuts the program down.
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/uRequestService.h"
#include "platform/uHttpListener.h"
#include "web/uAnswerFormat.h"
#include "web/uCrossOrigin.h"
#include "web/uStreamHub.h"

namespace zelto {

inline constexpr int kDefaultStreamInterval = 250;  // ms
inline constexpr int kMinStreamInterval = 20;
inline constexpr int kMaxStreamInterval = 60000;
inline constexpr std::size_t kMaxStreams = 256;
inline constexpr std::size_t kMaxStreamsPerClient = 16;

// Writes the service's answer to a variable request: the document or entries as the caller set them up,
// 400 with the reason for a refused request, 503 for one whose client left.
bool AnswerRefusedOrDropped(const TVarAnswer& Answer, THttpResponseInfo& Response);

// The StreamInterval setting brought into its range.
std::chrono::milliseconds StreamIntervalOf(int Value);

class TWebClients {
public:
    // StreamReader reads a query for the streams (through the request service, like any request).
    TWebClients(const std::string& AllowOrigin, std::chrono::milliseconds StreamInterval,
                TStreamHub::TReader StreamReader);
    ~TWebClients();  // Stop
    TWebClients(const TWebClients&) = delete;
    TWebClients& operator=(const TWebClients&) = delete;

    // An OPTIONS request: 204 with the allowed methods and headers for a preflight from an allowed origin,
    // otherwise 405 as for any method the server does not serve.
    void AnswerOptions(const THttpRequestInfo& Request, THttpResponseInfo& Response) const;
    // Adds the cross-origin headers to an answer.
    void AddOriginHeaders(const THttpRequestInfo& Request, THttpResponseInfo& Response) const;
    // A variable request in the form its Accept header asks for: the XML document, the JSON answer, or a
    // live stream (refused with 400 when it writes, 429 when its client has 16 open, 503 when the streams
    // are full). Query is the request as the service runs it. Every such answer carries
    // "Cache-Control: no-store" and "Vary: Accept" (with cross-origin calls "Vary: Accept, Origin").
    void AnswerVariables(const THttpRequestInfo& Request, THttpResponseInfo& Response, IRequestService& Service,
                         const TVarQuery& Query);
    // Ends every stream cleanly and the hub's reader.
    void Stop();

    const TCrossOrigin& CrossOrigin() const { return fCrossOrigin; }
    std::size_t StreamCount() const { return fHub.Count(); }
    // The hub that reads for the streams; other publishers subscribe to it.
    TStreamHub& Hub() { return fHub; }

private:
    void AnswerIn(TAnswerFormat Format, const THttpRequestInfo& Request, THttpResponseInfo& Response,
                  IRequestService& Service, const TVarQuery& Query);
    void OpenStream(const THttpRequestInfo& Request, THttpResponseInfo& Response, IRequestService& Service,
                    const TVarQuery& Query);
    // Counts Stream among its client's open streams; false when the client has its most open already.
    bool TakeClientPlace(const std::string& ClientIp, const std::shared_ptr<THttpStream>& Stream);

    TCrossOrigin fCrossOrigin;
    std::mutex fClientsLock;
    std::map<std::string, std::vector<std::weak_ptr<THttpStream>>> fClientStreams;
    TStreamHub fHub;
};

}  // namespace zelto
