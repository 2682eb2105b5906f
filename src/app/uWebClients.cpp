#include "app/uWebClients.h"

#include <algorithm>

#include "web/uAnswerFormat.h"
#include "web/uJsonText.h"
#include "web/uZeltoIntf.h"

namespace zelto {

namespace {

void Refuse(THttpResponseInfo& Response, int Status, const std::string& Text) {
    Response.ResponseNo = Status;
    Response.ContentType = "text/plain";
    Response.ContentText = Text;
}

}  // namespace

bool AnswerRefusedOrDropped(const TVarAnswer& Answer, THttpResponseInfo& Response) {
    switch (Answer.Outcome) {
        case TVarOutcome::Answered: return false;
        case TVarOutcome::Refused: Refuse(Response, 400, Answer.Refusal); return true;
        case TVarOutcome::Dropped: Refuse(Response, 503, "The client has left."); return true;
    }
    return false;
}

std::chrono::milliseconds StreamIntervalOf(int Value) {
    return std::chrono::milliseconds(std::clamp(Value, kMinStreamInterval, kMaxStreamInterval));
}

TWebClients::TWebClients(const std::string& AllowOrigin, std::chrono::milliseconds StreamInterval,
                         TStreamHub::TReader StreamReader)
    : fCrossOrigin(AllowOrigin),
      fHub(std::move(StreamReader), TStreamHub::TOptions{StreamInterval, kMaxStreams, std::chrono::seconds(15)}) {}

TWebClients::~TWebClients() { Stop(); }

void TWebClients::Stop() { fHub.Stop(); }

void TWebClients::AnswerOptions(const THttpRequestInfo& Request, THttpResponseInfo& Response) const {
    if (fCrossOrigin.Preflight(Request.Header("Origin"), Response.ExtraHeaders)) {
        Response.ResponseNo = 204;
    } else {
        Response.ResponseNo = 405;
        Response.ContentText = "Method not allowed";
    }
}

void TWebClients::AddOriginHeaders(const THttpRequestInfo& Request, THttpResponseInfo& Response) const {
    for (auto& h : fCrossOrigin.AnswerHeaders(Request.Header("Origin"))) Response.ExtraHeaders.push_back(std::move(h));
}

void TWebClients::AnswerVariables(const THttpRequestInfo& Request, THttpResponseInfo& Response,
                                  IRequestService& Service, const TVarQuery& Query) {
    AnswerIn(ChooseAnswerFormat(Request.Header("Accept")), Request, Response, Service, Query);
    // The same address answers XML, JSON or a stream by the Accept header (and, with cross-origin calls,
    // by Origin), and every answer is a reading of that moment: no cache may keep or mix them.
    const std::string vary = fCrossOrigin.Enabled() ? "Accept, Origin" : "Accept";
    auto& headers = Response.ExtraHeaders;
    const auto named = [&](const char* name) {
        return std::find_if(headers.begin(), headers.end(), [&](const auto& h) { return h.first == name; });
    };
    if (const auto it = named("Vary"); it != headers.end()) it->second = vary;
    else headers.emplace_back("Vary", vary);
    if (const auto it = named("Cache-Control"); it != headers.end()) it->second = "no-store";
    else headers.emplace_back("Cache-Control", "no-store");
}

void TWebClients::AnswerIn(TAnswerFormat Format, const THttpRequestInfo& Request, THttpResponseInfo& Response,
                           IRequestService& Service, const TVarQuery& Query) {
    switch (Format) {
        case TAnswerFormat::Xml: {
            const TVarAnswer answer = Service.ReadVars(Query);
            if (AnswerRefusedOrDropped(answer, Response)) return;
            Response.ContentType = "text/xml";
            Response.ContentText = answer.Document;
            return;
        }
        case TAnswerFormat::Json: {
            const TVarAnswer answer = Service.ReadResults(Query);
            if (AnswerRefusedOrDropped(answer, Response)) return;
            Response.ContentType = "application/json; charset=utf-8";
            Response.ContentText = JsonVarsDocument(answer.Results);
            return;
        }
        case TAnswerFormat::EventStream: OpenStream(Request, Response, Service, Query); return;
    }
}

bool TWebClients::TakeClientPlace(const std::string& ClientIp, const std::shared_ptr<THttpStream>& Stream) {
    std::lock_guard<std::mutex> lock(fClientsLock);
    // Ended streams leave the count here, and clients without streams leave the table.
    for (auto client = fClientStreams.begin(); client != fClientStreams.end();) {
        std::erase_if(client->second, [](const std::weak_ptr<THttpStream>& w) {
            const auto s = w.lock();
            return !s || s->Closed();
        });
        client = client->second.empty() ? fClientStreams.erase(client) : std::next(client);
    }
    auto& streams = fClientStreams[ClientIp];
    if (streams.size() >= kMaxStreamsPerClient) return false;
    streams.push_back(Stream);
    return true;
}

void TWebClients::OpenStream(const THttpRequestInfo& Request, THttpResponseInfo& Response, IRequestService& Service,
                             const TVarQuery& Query) {
    const auto items = SplitRequestItems(Request.Params);
    if (std::any_of(items.begin(), items.end(), [](const std::string& i) { return i.find('=') != std::string::npos; }))
        return Refuse(Response, 400, "A stream only reads: send writes as ordinary requests.");
    if (Request.Command == "HEAD") {
        Response.ContentType = "text/event-stream; charset=utf-8";
        return;
    }
    if (!fHub.HasRoom()) return Refuse(Response, 503, "Too many streams are open; try again later.");
    auto stream = std::make_shared<THttpStream>();
    if (!TakeClientPlace(Request.ClientIp, stream))
        return Refuse(Response, 429, "Too many streams from one client: at most " + std::to_string(kMaxStreamsPerClient) + ".");
    // A stream that does not open gives its client's place back.
    struct TGiveBack {
        std::shared_ptr<THttpStream>& s;
        bool opened = false;
        ~TGiveBack() {
            if (!opened && s) s->Close();
        }
    } giveBack{stream};
    // The first event carries every entry; reading it counts like an ordinary variable request.
    const TVarAnswer first = Service.ReadResults(Query);
    if (AnswerRefusedOrDropped(first, Response)) return;
    switch (fHub.Open(stream, Request.Params, first.Results)) {
        case TStreamHub::TOpenResult::Opened:
            Response.ContentType = "text/event-stream; charset=utf-8";
            Response.ExtraHeaders.emplace_back("X-Accel-Buffering", "no");
            giveBack.opened = true;
            Response.Stream = std::move(stream);
            return;
        case TStreamHub::TOpenResult::Full: return Refuse(Response, 503, "Too many streams are open; try again later.");
        case TStreamHub::TOpenResult::Stopped: return Refuse(Response, 503, "The server is stopping.");
    }
}

}  // namespace zelto
