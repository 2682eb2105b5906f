#pragma once
// What the server offers pages and apps beyond the XML answer: the answer as JSON when the client prefers
// it, cross-origin calls from the origins the AllowOrigin setting lists (with their OPTIONS preflight),
// and live streams of values (Server-Sent Events) fed by one stream hub.
//
// Threads: the request handler calls AnswerOptions, AddOriginHeaders and AnswerVariables on the
// listener's worker threads; AnswerVariables runs under the request lock like every variable request.
// Stop runs on the thread that shuts the program down.
#include <chrono>
#include <memory>
#include <string>

#include "app/uRequestService.h"
#include "platform/uHttpListener.h"
#include "web/uCrossOrigin.h"
#include "web/uStreamHub.h"

namespace zelto {

inline constexpr int kDefaultStreamInterval = 250;  // ms
inline constexpr int kMinStreamInterval = 20;
inline constexpr int kMaxStreamInterval = 60000;
inline constexpr std::size_t kMaxStreams = 256;

// The StreamInterval setting brought into its range.
std::chrono::milliseconds StreamIntervalOf(int Value);

class TWebClients {
public:
    // StreamReader reads a query for the streams (it takes the request lock itself).
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
    // live stream (refused with 400 when it writes, 503 when the streams are full).
    void AnswerVariables(const THttpRequestInfo& Request, THttpResponseInfo& Response, IRequestService& Service);
    // Ends every stream cleanly and the hub's reader.
    void Stop();

    const TCrossOrigin& CrossOrigin() const { return fCrossOrigin; }
    std::size_t StreamCount() const { return fHub.Count(); }
    // The hub that reads for the streams; other publishers subscribe to it.
    TStreamHub& Hub() { return fHub; }

private:
    void OpenStream(const THttpRequestInfo& Request, THttpResponseInfo& Response, IRequestService& Service);

    TCrossOrigin fCrossOrigin;
    TStreamHub fHub;
};

}  // namespace zelto
