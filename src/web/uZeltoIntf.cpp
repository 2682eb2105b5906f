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
    ResetAccessList();
    bool result = false;
    fGadgetVarList.Clear();
    fSystemVarList.clear();
    std::string rest = InputStr;
    while (!rest.empty()) {
        std::string item;
        const std::size_t amp = rest.find('&');
        if (amp != std::string::npos) {
            item = rest.substr(0, amp);
            if (!item.empty() && item.back() == '\\') item.pop_back();
            rest.erase(0, amp + 1);
        } else {
            item = std::move(rest);
            rest.clear();
        }
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
        EnterAccessList(proxy);
    }
    PublishAccessList();
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
    const auto add = [&](const std::string& entry) {
        if (!first) doc += separator;
        first = false;
        doc += entry;
    };
    for (const TGadgetVar* g : fGadgetVarList)
        if (g != nullptr) add(FormatGadgetVar(*g));
    for (const std::string& n : fSystemVarList) add(FormatSystemVar(n));
    return doc + tail;
}

// One entry of the document. The name is a client's text: it is escaped in the marked-up formats, so that
// it can neither break the document nor add markup to it.
static std::string Entry(TOutputType type, const std::string& name, const std::string& value,
                         const std::string& description) {
    if (type == iotText) return name + "=" + value;
    if (type == iotHTML) return EscapeXml(name) + "=" + value;
    return "<var><name>" + EscapeXml(name) + "</name><value>" + value + "</value><description>" + description +
           "</description></var>";
}

std::string TZeltoServer::FormatGadgetVar(const TGadgetVar& AVar) const {
    if (const TZeltoVar* v = AVar.ZeltoVar())
        return Entry(fOutputType, AVar.FullName(), v->ValueText(FormatSettings()), EscapeXml(v->Description()));
    return Entry(fOutputType, AVar.FullName(), "?", "");
}

std::string TZeltoServer::FormatSystemVar(const std::string& N) {
    std::string value, description;
    if (N.empty()) {
        // an empty item: empty value
    } else if (!NamesSystemVar(N)) {
        value = "?";
    } else if (StartsWithC(N)) {
        value = ControllerSystemVar(N);
    } else {
        value = "?";
        if (N == "sys.nad_list") {
            std::vector<std::string> nads, ips;
            ScanZeltos(nads, ips);
            value = ListToXmlItems(nads);
            description = "List of autodetected NADs.";
        } else if (N == "sys.scgi_port_status") {
            value = "active";
            description = "SCGI port status can be only in active state. If port is inactive, server is down.";
        } else if (N == "sys.http_port_status") {
            value = "active";
            description = "Http port status can be only in active state. If port is inactive, server is down.";
        } else if (N == "sys.server_uptime") {
            const TDateTime started = fHost.ServerStartedAt ? fHost.ServerStartedAt() : fCreatedAt;
            value = FormatServerUptime(Now(), started, FormatSettings());
            description = "Time since the server is started.";
        } else if (N == "sys.server_version") {
            value = GetVersionText(3);
            description = "ZeltoHttpServer version.";
        } else if (N == "sys.http_request_count") {
            value = std::to_string(fHost.ReqCount ? fHost.ReqCount() : 0);
            description = "Total number of http requests.";
        }
    }
    return Entry(fOutputType, N, value, description);
}

// A controller's system variable ("c10.sys.alc_file"); the value, escaped.
std::string TZeltoServer::ControllerSystemVar(const std::string& N) {
    const std::size_t dot = N.find('.');
    if (N.substr(dot + 1) != "sys.alc_file") return {};
    int32_t nad = 0;
    if (!TryParseWholeNumber(Part(N, 1, dot - 1), nad)) return "?";
    std::string value;
    if (TZelto* proxy = fZeltoList.GetByNAD(nad)) {
        {
            TSocketUse use(fSockets, *proxy);
            for (const std::string& line : proxy->AllocationFile()) value += line + "\r\n";
        }
        // Loading the ALC replaced the controller variables: no request variable may point at the old ones.
        fGadgetVarList.ClearZeltoVarReferencesByNAD(nad);
        ++proxy->RequestCount;
        PublishAccessList();
    } else {
        value = "Zelto " + std::to_string(nad) + " not found";
    }
    if (value.empty()) value = "Alc file not found";
    return EscapeXml(value);
}

}  // namespace zelto
