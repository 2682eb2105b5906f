#include "web/uCrossOrigin.h"

#include <algorithm>

#include "base/TextEncoding.h"

namespace zelto {

namespace {

// An origin compares without regard to the case of scheme and host, and without a trailing "/".
std::string NormalOrigin(std::string_view s) {
    while (!s.empty() && s.back() == '/') s.remove_suffix(1);
    return LowerAscii(s);
}

}  // namespace

TCrossOrigin::TCrossOrigin(std::string_view Setting) {
    std::size_t pos = 0;
    while (pos < Setting.size()) {
        const std::size_t end = Setting.find_first_of(", \t", pos);
        const std::string_view word = Setting.substr(pos, end == std::string_view::npos ? end : end - pos);
        pos = end == std::string_view::npos ? Setting.size() : end + 1;
        if (word.empty()) continue;
        if (word == "*") {
            fAny = true;
        } else if (const std::string o = NormalOrigin(word);
                   std::find(fOrigins.begin(), fOrigins.end(), o) == fOrigins.end()) {
            fOrigins.push_back(o);
        }
    }
}

bool TCrossOrigin::Allows(std::string_view Origin) const {
    if (Origin.empty()) return false;
    if (fAny) return true;
    const std::string o = NormalOrigin(Origin);
    return std::find(fOrigins.begin(), fOrigins.end(), o) != fOrigins.end();
}

THeaderList TCrossOrigin::AnswerHeaders(std::string_view Origin) const {
    THeaderList h;
    if (!Enabled()) return h;
    if (Allows(Origin)) h.emplace_back("Access-Control-Allow-Origin", fAny ? "*" : std::string(Origin));
    // With a list the answer depends on the Origin header, so caches must keep the answers apart.
    if (!fAny) h.emplace_back("Vary", "Origin");
    return h;
}

bool TCrossOrigin::Preflight(std::string_view Origin, THeaderList& Headers) const {
    Headers = AnswerHeaders(Origin);
    if (!Allows(Origin)) {
        Headers.emplace_back("Allow", "GET, HEAD, POST");
        return false;
    }
    Headers.emplace_back("Access-Control-Allow-Methods", kAllowedMethods);
    Headers.emplace_back("Access-Control-Allow-Headers", kAllowedHeaders);
    Headers.emplace_back("Access-Control-Max-Age", "600");
    return true;
}

std::string TCrossOrigin::Text() const {
    if (fAny) return "*";
    std::string out;
    for (const std::string& o : fOrigins) out += (out.empty() ? "" : ", ") + o;
    return out;
}

}  // namespace zelto
