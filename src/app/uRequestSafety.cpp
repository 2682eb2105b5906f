#include "app/uRequestSafety.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "base/NumberText.h"
#include "base/TextEncoding.h"
#include "log/uLog.h"
#include "vars/uGadgetVars.h"
#include "web/uZeltoIntf.h"

namespace zelto {

namespace {

bool AllDigits(std::string_view s) {
    return !s.empty() && s.size() <= 5 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A host and its port ("" when none is written), from "host", "host:port", "[v6]" or "[v6]:port". False
// for a text that is none of these.
bool SplitHostPort(std::string_view text, std::string& host, std::string& port) {
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        host = LowerAscii(text.substr(0, close + 1));
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.find(':');
        host = LowerAscii(text.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
    }
    if (host.empty()) return false;
    if (!rest.empty() && (rest.front() != ':' || !AllDigits(rest.substr(1)))) return false;
    port = rest.empty() ? std::string() : std::string(rest.substr(1));
    if (host.size() > 1 && host.back() == '.') host.pop_back();  // "localhost." is localhost
    return true;
}

bool IsIpLiteral(const std::string& host) {
    unsigned char buf[16];
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return ::inet_pton(AF_INET6, host.substr(1, host.size() - 2).c_str(), buf) == 1;
    return ::inet_pton(AF_INET, host.c_str(), buf) == 1;
}

// A page's origin as scheme, host and port (the scheme's default when none is written), from an Origin
// header or a Referer URL. False for "null", another scheme, or a text that is no URL.
struct TSite {
    std::string Origin;  // "scheme://authority", lower case: what AllowOrigin lists
    std::string Host;
    std::string Port;
};

bool ParseSite(std::string_view url, TSite& site) {
    const std::size_t sep = url.find("://");
    if (sep == std::string_view::npos) return false;
    const std::string scheme = LowerAscii(url.substr(0, sep));
    if (scheme != "http" && scheme != "https") return false;
    std::string_view authority = url.substr(sep + 3);
    authority = authority.substr(0, authority.find_first_of("/?#"));
    if (const std::size_t at = authority.rfind('@'); at != std::string_view::npos) authority.remove_prefix(at + 1);
    if (!SplitHostPort(authority, site.Host, site.Port)) return false;
    site.Origin = scheme + "://" + LowerAscii(authority);
    if (site.Port.empty()) site.Port = scheme == "https" ? "443" : "80";
    return true;
}

// Whether a page's site is the one the request was sent to: the same name, and the same port (a Host
// without port stands for the scheme's default, so a page behind a proxy for https matches too).
bool IsOwnSite(const TSite& site, std::string_view hostHeader) {
    std::string host, port;
    if (hostHeader.empty() || !SplitHostPort(hostHeader, host, port)) return false;
    if (host != site.Host) return false;
    return port.empty() ? site.Port == "80" || site.Port == "443" : port == site.Port;
}

bool HasHeader(const THttpRequestInfo& request, std::string_view name) {
    return std::any_of(request.Headers.begin(), request.Headers.end(), [&](const auto& h) {
        return LowerAscii(h.first) == LowerAscii(name);
    });
}

// A request that would write comes from a page of another site when its Origin or Referer names a site
// that is neither the one asked nor listed, or when the browser says "cross-site" or "same-site" and no
// listed origin stands behind it. A browser that says "same-origin" or "none" (typed or bookmarked) vouches
// for the request itself.
bool FromAnotherSite(const THttpRequestInfo& request, const TCrossOrigin& allowOrigin) {
    const std::string fetchSite = LowerAscii(request.Header("Sec-Fetch-Site"));
    if (fetchSite == "same-origin" || fetchSite == "none") return false;
    const std::string host = request.Header("Host");
    bool listed = false;
    for (const char* name : {"Origin", "Referer"}) {
        if (!HasHeader(request, name)) continue;
        TSite site;
        if (!ParseSite(request.Header(name), site)) return true;  // "null", file:, garbage: not ours
        const bool isListed = allowOrigin.Allows(site.Origin);
        if (!isListed && !IsOwnSite(site, host)) return true;
        listed = listed || isListed;
    }
    return (fetchSite == "cross-site" || fetchSite == "same-site") && !listed;
}

TRequestRefusal Refusal(int status, std::string text) { return TRequestRefusal{status, std::move(text)}; }

}  // namespace

std::string ParseAllowHost(std::string_view Text, THostNames& Hosts) {
    THostNames parsed;
    std::size_t pos = 0;
    while (pos < Text.size()) {
        const std::size_t end = std::min(Text.find_first_of(", \t", pos), Text.size());
        const std::string_view word = Text.substr(pos, end - pos);
        pos = end + 1;
        if (word.empty()) continue;
        if (word == "*") {
            parsed.Any = true;
            continue;
        }
        std::string host, port;
        if (word.find('/') != std::string_view::npos || !SplitHostPort(word, host, port))
            return "'" + std::string(word) + "' is not a host name (write names like plant.example, without scheme)";
        parsed.Names.push_back(host);
    }
    Hosts = std::move(parsed);
    return {};
}

std::vector<std::string> MachineHostNames() {
    std::vector<std::string> names;
    char buf[HOST_NAME_MAX + 1] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0 || buf[0] == '\0') return names;
    const std::string full = LowerAscii(buf);
    const std::string shortName = full.substr(0, full.find('.'));
    names = {full, shortName, shortName + ".local"};
    // The fully qualified name, as the resolver knows it (usually from /etc/hosts).
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* info = nullptr;
    if (::getaddrinfo(buf, nullptr, &hints, &info) == 0) {
        if (info != nullptr && info->ai_canonname != nullptr) names.push_back(LowerAscii(info->ai_canonname));
        ::freeaddrinfo(info);
    }
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

bool IsServerHost(std::string_view Host, const THostNames& Hosts) {
    if (Hosts.Any) return true;
    std::string host, port;
    if (!SplitHostPort(Host, host, port)) return false;
    if (IsIpLiteral(host) || host == "localhost" || host.ends_with(".localhost")) return true;
    return std::find(Hosts.Names.begin(), Hosts.Names.end(), host) != Hosts.Names.end();
}

bool WouldWrite(const std::string& Params) {
    for (std::string item : SplitRequestItems(Params)) {
        // As the request parser sorts items: the NAD is read up to the first "." of the whole item.
        const std::size_t dot = item.find('.');
        if (dot == std::string::npos || dot < 1 || (item[0] != 'c' && item[0] != 'C')) continue;
        int32_t nad = 0;
        if (!TryParseWholeNumber(std::string_view(item).substr(1, dot - 1), nad)) continue;
        if (CutWriteValue(item).empty()) continue;
        if (item.find(".sys.") == std::string::npos) return true;
    }
    return false;
}

TRequestRefusal CheckRequest(const THttpRequestInfo& Request, const TRequestSafetySettings& Settings) {
    // HTTP/1.0 clients may send no Host at all; they are answered as ever.
    if (HasHeader(Request, "Host") && !IsServerHost(Request.Header("Host"), Settings.Hosts))
        return Refusal(421, "Host '" + Request.Header("Host") +
                                "' is not one of this server's names; add it with --allow-host");
    if (Settings.ReadOnly || Request.Command == "OPTIONS" || !WouldWrite(Request.Params)) return {};
    if (FromAnotherSite(Request, Settings.AllowOrigin))
        return Refusal(403, "Writes from another site are refused; list its origin with --allow-origin");
    if (Settings.WriteHeader && Request.Header(kWriteHeaderName) != "1")
        return Refusal(403, std::string("Writes need the header '") + kWriteHeaderName +
                                ": 1' (the server runs with --write-header)");
    return {};
}

std::string MaskPasswords(std::string_view Params) {
    static constexpr std::string_view kKey = "password=";
    std::string out;
    std::size_t pos = 0;
    while (pos < Params.size()) {
        std::size_t at = std::string_view::npos;
        for (std::size_t i = pos; i + kKey.size() <= Params.size(); ++i) {
            if (LowerAscii(Params.substr(i, kKey.size())) == kKey) {
                at = i;
                break;
            }
        }
        if (at == std::string_view::npos) break;
        const std::size_t valueAt = at + kKey.size();
        const std::size_t end = std::min(Params.find('&', valueAt), Params.size());
        out.append(Params.substr(pos, valueAt - pos));
        out += "***";
        pos = end;
    }
    out.append(Params.substr(std::min(pos, Params.size())));
    return out;
}

bool TRequestSafety::Refuses(const THttpRequestInfo& Request, THttpResponseInfo& Response) const {
    const TRequestRefusal refusal = CheckRequest(Request, fSettings);
    if (refusal.Status == 0) return false;
    Response.ResponseNo = refusal.Status;
    Response.ContentType = "text/plain";
    Response.ContentText = refusal.Text;
    // A listed page may read why it was refused; the answer depends on headers a cache does not key on.
    Response.ExtraHeaders = fSettings.AllowOrigin.AnswerHeaders(Request.Header("Origin"));
    Response.ExtraHeaders.emplace_back("Cache-Control", "no-store");
    const std::string asked = Request.Params.empty() ? Request.Document : MaskPasswords(Request.Params);
    MyLog.AddLog("Refused request from " + Request.ClientIp + " (" + std::to_string(refusal.Status) + " " +
                 refusal.Text + "): " + asked);
    return true;
}

}  // namespace zelto
