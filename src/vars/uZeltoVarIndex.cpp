#include "vars/uZeltoVarIndex.h"

namespace zelto {

void TZeltoVarIndex::Clear() {
    fChains.clear();
    fNext.clear();
}

void TZeltoVarIndex::Append(std::string_view Name, int32_t Index) {
    const int at = Count();
    fNext.push_back(-1);
    auto it = fChains.find(TVarKey{Name, Index});
    if (it == fChains.end()) {
        fChains.emplace(TOwnedKey{std::string(Name), Index}, TChain{at, at});
        return;
    }
    fNext[static_cast<std::size_t>(it->second.Last)] = at;
    it->second.Last = at;
}

void TZeltoVarIndex::AppendAbsent() { fNext.push_back(-1); }

}  // namespace zelto
