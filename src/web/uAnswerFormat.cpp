#include "web/uAnswerFormat.h"

#include <array>
#include <cctype>
#include <charconv>
#include <string>

namespace zelto {

namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool IEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// The q parameter of a media range ("q=0.5"); 1 without one, 0 for one that does not parse.
double QValue(std::string_view params) {
    while (!params.empty()) {
        const std::size_t semi = params.find(';');
        std::string_view p = Trim(params.substr(0, semi));
        params = semi == std::string_view::npos ? std::string_view() : params.substr(semi + 1);
        if (p.size() < 2 || (p[0] != 'q' && p[0] != 'Q') || p[1] != '=') continue;
        p.remove_prefix(2);
        double q = 0;
        const auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), q);
        if (ec != std::errc() || end != p.data() + p.size() || q < 0 || q > 1) return 0;
        return q;
    }
    return 1;
}

struct TCandidate {
    TAnswerFormat Format;
    std::array<std::string_view, 2> Types;  // "type/subtype" names that mean this format ("" = none)
    bool Wildcards;                         // whether "*/*" and "type/*" reach it
};

constexpr TCandidate kCandidates[] = {
    {TAnswerFormat::Xml, {"text/xml", "application/xml"}, true},
    {TAnswerFormat::Json, {"application/json", ""}, true},
    {TAnswerFormat::EventStream, {"text/event-stream", ""}, false},
};

// How specifically a range names a type: 3 exactly, 2 "type/*", 1 "*/*", 0 not at all.
int Specificity(std::string_view range, std::string_view type, bool wildcards) {
    if (type.empty()) return 0;
    if (IEquals(range, type)) return 3;
    if (!wildcards) return 0;
    if (range == "*/*") return 1;
    const std::size_t slash = type.find('/');
    if (range.size() == slash + 2 && range.ends_with("/*") && IEquals(range.substr(0, slash), type.substr(0, slash)))
        return 2;
    return 0;
}

}  // namespace

TAnswerFormat ChooseAnswerFormat(std::string_view Accept) {
    struct TScore {
        double q = -1;  // -1: no range matched
        int specificity = 0;
    };
    std::array<TScore, std::size(kCandidates)> scores{};
    while (!Accept.empty()) {
        const std::size_t comma = Accept.find(',');
        const std::string_view element = Accept.substr(0, comma);
        Accept = comma == std::string_view::npos ? std::string_view() : Accept.substr(comma + 1);
        const std::size_t semi = element.find(';');
        const std::string_view range = Trim(element.substr(0, semi));
        if (range.empty()) continue;
        const double q = semi == std::string_view::npos ? 1.0 : QValue(element.substr(semi + 1));
        for (std::size_t i = 0; i < std::size(kCandidates); ++i) {
            for (std::string_view type : kCandidates[i].Types) {
                const int s = Specificity(range, type, kCandidates[i].Wildcards);
                // The most specific range decides; between equally specific ones the higher q.
                if (s > scores[i].specificity || (s > 0 && s == scores[i].specificity && q > scores[i].q))
                    scores[i] = TScore{q, s};
            }
        }
    }
    std::size_t best = 0;
    for (std::size_t i = 1; i < scores.size(); ++i) {
        const TScore& s = scores[i];
        const TScore& b = scores[best];
        if (s.q > b.q || (s.q == b.q && s.specificity > b.specificity)) best = i;
    }
    if (scores[best].q > 0 && kCandidates[best].Format == TAnswerFormat::EventStream) return TAnswerFormat::EventStream;
    // XML whenever the client takes it at all, so that a library's "application/json, */*" keeps the
    // document it always had; JSON only for a client that takes JSON and not XML.
    if (scores[0].q > 0) return TAnswerFormat::Xml;
    if (scores[1].q > 0) return TAnswerFormat::Json;
    return TAnswerFormat::Xml;
}

}  // namespace zelto
