#pragma once
// Which pages served elsewhere may call the server (the AllowOrigin setting): empty = none (the browser's
// same-origin rule stands), "*" = every page, or a list of origins ("https://a.example, http://b:8080",
// separated by commas or blanks). The rules decide the headers of an answer and of a preflight.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zelto {

using THeaderList = std::vector<std::pair<std::string, std::string>>;

class TCrossOrigin {
public:
    explicit TCrossOrigin(std::string_view Setting = {});

    // True when cross-origin calls are allowed at all (the listener then lets OPTIONS through).
    bool Enabled() const { return fAny || !fOrigins.empty(); }
    // True when a request with this Origin header may read the answer.
    bool Allows(std::string_view Origin) const;
    // The headers an answer to a request with this Origin header carries ("" = no Origin header).
    THeaderList AnswerHeaders(std::string_view Origin) const;
    // The answer to an OPTIONS request: true and the headers of a 204 when it is a preflight from an
    // allowed origin; false otherwise (it then gets 405 as without cross-origin calls).
    bool Preflight(std::string_view Origin, THeaderList& Headers) const;
    // The setting as it was given, cleaned: "*", the origins joined by ", ", or "".
    std::string Text() const;

    static constexpr const char* kAllowedMethods = "GET, HEAD, POST, OPTIONS";
    static constexpr const char* kAllowedHeaders = "Accept, Content-Type, Cache-Control, Last-Event-ID, X-Zelto-Write";

private:
    bool fAny = false;
    std::vector<std::string> fOrigins;
};

}  // namespace zelto
