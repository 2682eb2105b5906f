#pragma once
// The entries of a controller variable list by name and element index, so that a request finds the
// variables it names without walking a list of tens of thousands of entries. Each key chains the
// positions of its entries in list order (a name declared twice keeps both, in order).
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace zelto {

// A variable's name and element index, as looked up (views, valid for the lookup).
struct TVarKey {
    std::string_view Name;
    int32_t Index = 0;
    bool operator==(const TVarKey&) const = default;
};

struct TVarKeyHash {
    std::size_t operator()(const TVarKey& k) const {
        return std::hash<std::string_view>{}(k.Name) ^
               (static_cast<std::size_t>(static_cast<uint32_t>(k.Index)) * std::size_t{0x9E3779B97F4A7C15u});
    }
};

class TZeltoVarIndex {
public:
    void Clear();
    // Records the entry at the next position (Count()); Name and Index are its key. Absent entries take a
    // position without a key.
    void Append(std::string_view Name, int32_t Index);
    void AppendAbsent();
    // Positions recorded.
    int Count() const { return static_cast<int>(fNext.size()); }
    // Calls Visit(position) for each entry with this key, in list order.
    template <typename TVisit>
    void ForEach(const TVarKey& Key, TVisit&& Visit) const {
        const auto it = fChains.find(Key);
        if (it == fChains.end()) return;
        for (int at = it->second.First; at >= 0; at = fNext[static_cast<std::size_t>(at)]) Visit(at);
    }

private:
    struct TOwnedKey {
        std::string Name;
        int32_t Index = 0;
        bool operator==(const TOwnedKey&) const = default;
    };
    // Looks keys up by view, without copying the name.
    struct TKeyHash {
        using is_transparent = void;
        std::size_t operator()(const TVarKey& k) const { return TVarKeyHash{}(k); }
        std::size_t operator()(const TOwnedKey& k) const { return TVarKeyHash{}(TVarKey{k.Name, k.Index}); }
    };
    struct TKeyEqual {
        using is_transparent = void;
        static TVarKey View(const TVarKey& k) { return k; }
        static TVarKey View(const TOwnedKey& k) { return TVarKey{k.Name, k.Index}; }
        template <typename A, typename B>
        bool operator()(const A& a, const B& b) const {
            return View(a) == View(b);
        }
    };
    struct TChain {
        int First = -1;
        int Last = -1;
    };

    std::unordered_map<TOwnedKey, TChain, TKeyHash, TKeyEqual> fChains;
    std::vector<int> fNext;  // by position: the next position with the same key, -1 at the end of a chain
};

}  // namespace zelto
