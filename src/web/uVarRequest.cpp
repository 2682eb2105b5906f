#include "web/uVarRequest.h"

#include <algorithm>
#include <map>
#include <unordered_set>

#include "base/NumberText.h"

namespace zelto {

namespace {

// Copy(s, start, count) of a text that may be shorter: the part that exists.
std::string Part(const std::string& s, std::size_t start, std::size_t count = std::string::npos) {
    if (start >= s.size()) return {};
    return s.substr(start, count);
}

bool StartsWithC(const std::string& s) { return !s.empty() && (s[0] == 'c' || s[0] == 'C'); }

}  // namespace

bool NamesSystemVar(const std::string& s) { return s.find(".sys.") != std::string::npos || s.starts_with("sys."); }

bool NamesAlcFile(const std::string& s, int32_t& NAD) {
    const std::size_t dot = s.find('.');
    if (!StartsWithC(s) || dot == std::string::npos || s.compare(dot + 1, std::string::npos, "sys.alc_file") != 0)
        return false;
    return TryParseWholeNumber(Part(s, 1, dot - 1), NAD);
}

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

TVarRequest ParseVarRequest(TVarQuery Query, const TRequestBounds& Bounds) {
    TVarRequest r;
    r.Query = std::move(Query);
    const std::string& text = r.Query.Params;
    // Counted before anything is cut, so that a megabyte of items costs one pass.
    const auto items = text.empty() ? 0 : std::count(text.begin(), text.end(), '&') + 1;
    if (items > Bounds.MaxItems) {
        r.Refusal = "Too many items in one request: at most " + std::to_string(Bounds.MaxItems) +
                    " (setting MaxRequestItems).";
        return r;
    }
    std::map<int32_t, TControllerWork> work;
    std::unordered_set<int32_t> named;
    for (std::string& item : SplitRequestItems(text)) {
        const std::size_t dot = item.find('.');
        if (item.empty() || dot == std::string::npos) {
            r.SysVars.push_back(item);
            continue;
        }
        std::string value = CutWriteValue(item);
        if (r.Query.ReadOnly) value.clear();  // read, as a value the type refuses
        const bool isSys = NamesSystemVar(item);
        if (!StartsWithC(item)) {
            r.SysVars.push_back(item);
            continue;
        }
        int32_t nad = 0;
        if (dot < 1 || !TryParseWholeNumber(Part(item, 1, dot - 1), nad)) continue;  // dropped
        named.insert(nad);
        if (static_cast<int>(named.size()) > Bounds.MaxControllers) {
            TVarRequest refused;
            refused.Query = std::move(r.Query);
            refused.Refusal = "Too many controllers in one request: at most " + std::to_string(Bounds.MaxControllers) +
                              " (setting MaxRequestControllers).";
            return refused;
        }
        r.Named.push_back(nad);
        std::string name = Part(item, dot + 1);
        int32_t index = 0;
        CutArrayIndex(name, index);
        int32_t alcNad = 0;
        if (!isSys) {
            TControllerWork& w = work[nad];
            w.Vars.push_back(r.Vars.Count());
            r.Vars.Add(std::make_unique<TGadgetVar>(item, name, nad, index, value));
        } else if (NamesAlcFile(item, alcNad)) {
            work[nad].AlcItems.push_back(static_cast<int>(r.SysVars.size()));
            r.SysVars.push_back(item);
        } else {
            r.SysVars.push_back(item);
        }
    }
    std::map<int32_t, int> counted;
    for (const int32_t nad : r.Named) ++counted[nad];
    for (auto& [nad, w] : work) {
        w.NAD = nad;
        w.CountedItems = counted[nad];
        r.Controllers.push_back(std::move(w));
    }
    for (const auto& [nad, n] : counted)
        if (!work.contains(nad)) r.NamedOnly.push_back(nad);
    return r;
}

}  // namespace zelto
