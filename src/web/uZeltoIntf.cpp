// The request side of TZeltoServer: the query parser, the system variables and the response documents.
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

// Copy(s, start, count) of a text that may be shorter: the part that exists.
std::string Part(const std::string& s, std::size_t start, std::size_t count = std::string::npos) {
    if (start >= s.size()) return {};
    return s.substr(start, count);
}

bool StartsWithC(const std::string& s) { return !s.empty() && (s[0] == 'c' || s[0] == 'C'); }

bool NamesSystemVar(const std::string& s) { return s.find(".sys.") != std::string::npos || s.starts_with("sys."); }

}  // namespace

std::vector<std::string> SplitRequestItems(const std::string& InputStr) {
    std::vector<std::string> items;
    std::size_t pos = 0;
    while (pos < InputStr.size()) {
        const std::size_t amp = InputStr.find('&', pos);
        if (amp == std::string::npos) {
            items.push_back(InputStr.substr(pos));
            break;
        }
        std::string item = InputStr.substr(pos, amp - pos);
        if (!item.empty() && item.back() == '\\') item.pop_back();
        items.push_back(std::move(item));
        pos = amp + 1;
    }
    return items;
}

std::string FormatServerUptime(TDateTime NowValue, TDateTime StartedAt, const TFormatSettings& fs) {
    const long long ms = std::llabs(std::llround((NowValue - StartedAt) * kMsPerDay));
    const long long days = ms / 86400000LL;
    const long long secondsOfDay = (ms % 86400000LL) / 1000;
    return std::to_string(days) + " days, " + std::to_string(secondsOfDay / 3600) + fs.TimeSeparator +
           TwoDigits(static_cast<int>(secondsOfDay / 60 % 60)) + fs.TimeSeparator +
           TwoDigits(static_cast<int>(secondsOfDay % 60));
}

TZeltoServer::~TZeltoServer() {
    fSockets.Stop();
    LastAccessList = {};
    fZeltoList.Clear();
}

std::string TZeltoServer::ReadVars(const std::string& InputStr) {
    fStatus = ccsBusy;
    struct TReady {
        TCCSStatus& s;
        ~TReady() { s = ccsReady; }
    } ready{fStatus};
    if (ParseRequest(InputStr)) ReadPass(false);
    return BuildResponse();
}

// Cuts the query into items at "&" and sorts each into a request variable, a system-variable name, or
// nothing. Positions of "." are taken before the value part is cut off, so a "." in the value counts.
bool TZeltoServer::ParseRequest(const std::string& InputStr) {
    if (fCounting) ResetAccessList();
    bool result = false;
    fGadgetVarList.Clear();
    fSystemVarList.clear();
    for (std::string& item : SplitRequestItems(InputStr)) {
        const std::size_t dot = item.find('.');
        if (item.empty() || dot == std::string::npos) {
            fSystemVarList.push_back(item);
            continue;
        }
        std::string value = CutWriteValue(item);
        if (fReadOnly) value.clear();  // read, as a value the type refuses
        const bool isSys = NamesSystemVar(item);
        if (!StartsWithC(item)) {
            fSystemVarList.push_back(item);
            continue;
        }
        int32_t nad = 0;
        if (dot < 1 || !TryParseWholeNumber(Part(item, 1, dot - 1), nad)) continue;  // dropped
        std::string name = Part(item, dot + 1);
        int32_t index = 0;
        CutArrayIndex(name, index);
        TZelto* proxy = BindItemToZelto(nad);
        if (!isSys)
            fGadgetVarList.Add(std::make_unique<TGadgetVar>(item, name, nad, index, value));
        else
            fSystemVarList.push_back(item);
        result = true;
        if (fCounting) EnterAccessList(proxy);
    }
    if (fCounting) PublishAccessList();
    return result;
}

std::string TZeltoServer::BuildResponse() {
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
    for (const TVarResult& r : Results()) {
        if (!first) doc += separator;
        first = false;
        doc += Entry(r);
    }
    return doc + tail;
}

TVarResults TZeltoServer::Results() {
    TVarResults results;
    results.reserve(static_cast<std::size_t>(fGadgetVarList.Count()) + fSystemVarList.size());
    for (const TGadgetVar* g : fGadgetVarList)
        if (g != nullptr) results.push_back(GadgetResult(*g));
    for (const std::string& n : fSystemVarList) results.push_back(SystemResult(n));
    return results;
}

TVarResults TZeltoServer::ReadResults(const std::string& InputStr, bool Counted) {
    fStatus = ccsBusy;
    struct TRestore {
        TZeltoServer& s;
        ~TRestore() {
            s.fStatus = ccsReady;
            s.fCounting = true;
        }
    } restore{*this};
    fCounting = Counted;
    if (ParseRequest(InputStr)) ReadPass(false);
    return Results();
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

std::string TZeltoServer::FormatGadgetVar(const TGadgetVar& AVar) const { return Entry(GadgetResult(AVar)); }

std::string TZeltoServer::FormatSystemVar(const std::string& N) { return Entry(SystemResult(N)); }

TVarResult TZeltoServer::GadgetResult(const TGadgetVar& AVar) const {
    TVarResult r;
    r.Name = AVar.FullName();
    if (const TZeltoVar* v = AVar.ZeltoVar()) {
        r.Kind = TValueKind::Number;
        r.Number = v->ValueFloat();
        r.Description = v->Description();
        return r;
    }
    r.Text = "?";
    r.Error = kUnknownVariable;
    // A controller that failed on its way to the ready state gives its own reason.
    const TZelto* proxy = fZeltoList.GetByNAD(AVar.NAD());
    if (proxy != nullptr && proxy->ProgramState() == psSocketInit && !proxy->ErrorS.empty()) r.Error = proxy->ErrorS;
    return r;
}

TVarResult TZeltoServer::SystemResult(const std::string& N) {
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
    } else if (StartsWithC(N)) {
        ControllerSystemVar(N, r);
    } else if (N == "sys.nad_list") {
        std::vector<std::string> nads, ips;
        ScanZeltos(nads, ips);
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

// A controller's system variable ("c10.sys.alc_file"). Any other name under a controller has an empty value.
void TZeltoServer::ControllerSystemVar(const std::string& N, TVarResult& r) {
    const std::size_t dot = N.find('.');
    if (N.substr(dot + 1) != "sys.alc_file") return;
    int32_t nad = 0;
    if (!TryParseWholeNumber(Part(N, 1, dot - 1), nad)) {
        r.Kind = TValueKind::Missing;
        r.Text = "?";
        r.Error = kUnknownVariable;
        return;
    }
    if (TZelto* proxy = fZeltoList.GetByNAD(nad)) {
        {
            TSocketUse use(fSockets, *proxy);
            for (const std::string& line : proxy->AllocationFile()) r.Text += line + "\r\n";
        }
        // Loading the ALC replaced the controller variables: no request variable may point at the old ones.
        fGadgetVarList.ClearZeltoVarReferencesByNAD(nad);
        if (fCounting) {
            ++proxy->RequestCount;
            PublishAccessList();
        }
    } else {
        r.Text = "Zelto " + std::to_string(nad) + " not found";
        r.Kind = TValueKind::Missing;
        r.Error = r.Text;
    }
    if (r.Text.empty()) {
        r.Text = "Alc file not found";
        r.Kind = TValueKind::Missing;
        r.Error = r.Text;
    }
}

}  // namespace zelto
