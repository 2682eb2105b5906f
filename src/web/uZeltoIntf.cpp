// The request side of TZeltoServer: one request from its query to its answer, the system variables and the
// response documents.
#include "web/uZeltoIntf.h"

#include <cmath>
#include <cstdlib>

#include "base/FormatSettings.h"
#include "base/NumberText.h"
#include "platform/uVersion.h"

namespace zelto {

namespace {

constexpr const char* kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>";
constexpr double kMsPerDay = 86400000.0;

}  // namespace

std::string FormatServerUptime(TDateTime NowValue, TDateTime StartedAt, const TFormatSettings& fs) {
    const long long ms = std::llabs(std::llround((NowValue - StartedAt) * kMsPerDay));
    const long long days = ms / 86400000LL;
    const long long secondsOfDay = (ms % 86400000LL) / 1000;
    return std::to_string(days) + " days, " + std::to_string(secondsOfDay / 3600) + fs.TimeSeparator +
           TwoDigits(static_cast<int>(secondsOfDay / 60 % 60)) + fs.TimeSeparator +
           TwoDigits(static_cast<int>(secondsOfDay % 60));
}

TZeltoServer::~TZeltoServer() = default;

TVarAnswer TZeltoServer::ReadVars(const TVarQuery& Query) { return Answer(Query, true); }

TVarAnswer TZeltoServer::ReadResults(const TVarQuery& Query) { return Answer(Query, false); }

TVarAnswer TZeltoServer::Answer(const TVarQuery& Query, bool Document) {
    TVarAnswer answer;
    TVarRequest request = ParseVarRequest(Query, fHost.Bounds);
    if (!request.Refusal.empty()) {
        answer.Outcome = TVarOutcome::Refused;
        answer.Refusal = request.Refusal;
        return answer;
    }
    TControllerService::TRequestScope scope(fControllers);
    const TControllerRun run = fControllers.Run(request);
    bool dropped = run.Dropped;
    if (!dropped) answer.Results = Results(request, &run, &dropped);
    if (dropped) {
        answer.Outcome = TVarOutcome::Dropped;
        answer.Results.clear();
        return answer;
    }
    if (Document) answer.Document = BuildResponse(answer.Results);
    return answer;
}

std::string TZeltoServer::BuildResponse(const TVarResults& Results) const {
    std::string head, separator, tail;
    switch (fOutputType) {
        case iotText: separator = "&"; break;
        case iotHTML:
            head = "<html><head></head><body>\r\n";
            separator = "<br>\r\n";
            tail = "\r\n</body></html>";
            break;
        case iotXML:
            head = std::string(kXmlDeclaration) + "\r\n<data>\r\n";
            separator = "\r\n";
            tail = "\r\n</data>";
            break;
    }
    std::string doc = head;
    bool first = true;
    for (const TVarResult& r : Results) {
        if (!first) doc += separator;
        first = false;
        doc += Entry(r);
    }
    return doc + tail;
}

TVarResults TZeltoServer::Results(const TVarRequest& R, const TControllerRun* Run, bool* Dropped) {
    TVarResults results;
    results.reserve(static_cast<std::size_t>(R.Vars.Count()) + R.SysVars.size());
    for (int i = 0; i < R.Vars.Count(); ++i) {
        const auto at = static_cast<std::size_t>(i);
        if (Run != nullptr && at < Run->VarResults.size() && Run->VarResults[at])
            results.push_back(*Run->VarResults[at]);
        else
            results.push_back(VarResultOf(*R.Vars.Items(i), nullptr));
    }
    for (std::size_t i = 0; i < R.SysVars.size(); ++i) {
        if (Run != nullptr) {
            if (const auto alc = Run->AlcResults.find(static_cast<int>(i)); alc != Run->AlcResults.end()) {
                results.push_back(alc->second);
                continue;
            }
        }
        if (R.SysVars[i] == "sys.nad_list" && R.Query.ClientGone()) {
            if (Dropped != nullptr) *Dropped = true;  // no broadcast for a client that has left
            return results;
        }
        results.push_back(SystemResult(R.SysVars[i], R.Query));
    }
    return results;
}

// The value as the text formats write it: numbers in the locale's general format, texts escaped.
static std::string ValueText(const TVarResult& r) {
    switch (r.Kind) {
        case TValueKind::Number: return FormatGeneral(r.Number, FormatSettings());
        case TValueKind::NumberList: return ListToXmlItems(r.Items);
        case TValueKind::Text:
        case TValueKind::Missing: break;
    }
    return EscapeXml(r.Text);
}

// One entry of the document. The name is a client's text: it is escaped in the marked-up formats, so that
// it can neither break the document nor add markup to it.
std::string TZeltoServer::Entry(const TVarResult& r) const {
    if (fOutputType == iotText) return r.Name + "=" + ValueText(r);
    if (fOutputType == iotHTML) return EscapeXml(r.Name) + "=" + ValueText(r);
    return "<var><name>" + EscapeXml(r.Name) + "</name><value>" + ValueText(r) + "</value><description>" +
           EscapeXml(r.Description) + "</description></var>";
}

TVarResult TZeltoServer::SystemResult(const std::string& N, const TVarQuery& Query) {
    TVarResult r;
    r.Name = N;
    r.Kind = TValueKind::Text;
    const auto missing = [&r] {
        r.Kind = TValueKind::Missing;
        r.Text = "?";
        r.Error = kUnknownVariable;
    };
    if (N.empty()) {
        // an empty item: empty value
    } else if (!NamesSystemVar(N)) {
        missing();
    } else if (N[0] == 'c' || N[0] == 'C') {
        ControllerSystemVar(N, Query, r);
    } else if (N == "sys.nad_list") {
        std::vector<std::string> nads, ips;
        fControllers.Scan(Query, nads, ips);
        r.Kind = TValueKind::NumberList;
        r.Items = std::move(nads);
        r.Description = "List of autodetected NADs.";
    } else if (N == "sys.scgi_port_status") {
        r.Text = "active";
        r.Description = "SCGI port status can be only in active state. If port is inactive, server is down.";
    } else if (N == "sys.http_port_status") {
        r.Text = "active";
        r.Description = "Http port status can be only in active state. If port is inactive, server is down.";
    } else if (N == "sys.server_uptime") {
        const TDateTime started = fHost.ServerStartedAt ? fHost.ServerStartedAt() : fCreatedAt;
        r.Text = FormatServerUptime(Now(), started, FormatSettings());
        r.Description = "Time since the server is started.";
    } else if (N == "sys.server_version") {
        r.Text = GetVersionText(3);
        r.Description = "ZeltoHttpServer version.";
    } else if (N == "sys.http_request_count") {
        r.Kind = TValueKind::Number;
        r.Number = fHost.ReqCount ? fHost.ReqCount() : 0;
        r.Description = "Total number of http requests.";
    } else {
        missing();
    }
    return r;
}

// A controller's system variable asked outside a request's controller work ("c10.sys.alc_file" alone): the
// ALC of a controller that has a record, loaded in its turn. Any other name under a controller has an
// empty value.
void TZeltoServer::ControllerSystemVar(const std::string& N, const TVarQuery& Query, TVarResult& r) {
    const std::size_t dot = N.find('.');
    if (N.compare(dot + 1, std::string::npos, "sys.alc_file") != 0) return;
    int32_t nad = 0;
    if (!NamesAlcFile(N, nad)) {
        r.Kind = TValueKind::Missing;
        r.Text = "?";
        r.Error = kUnknownVariable;
        return;
    }
    if (fControllers.Proxy(nad) == nullptr) {
        r.Text = "Zelto " + std::to_string(nad) + " not found";
        r.Kind = TValueKind::Missing;
        r.Error = r.Text;
        return;
    }
    TVarQuery alone = Query;
    alone.Params = N;
    TVarRequest request = ParseVarRequest(alone, fHost.Bounds);
    const TControllerRun run = fControllers.Run(request);
    if (const auto it = run.AlcResults.find(0); it != run.AlcResults.end()) r = it->second;
}

}  // namespace zelto
