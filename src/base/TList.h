#pragma once
// The list types of the system: a thin owning list (frees its items, last to first) and a borrowing list
// (holds pointers it does not own and is emptied with ClearWithoutFreeing). GetItem returns nullptr for an
// index outside the list.
#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace zelto {

template <typename T>
class TObjectList {
public:
    TObjectList() = default;
    TObjectList(const TObjectList&) = delete;
    TObjectList& operator=(const TObjectList&) = delete;
    TObjectList(TObjectList&&) noexcept = default;
    TObjectList& operator=(TObjectList&& other) noexcept {
        if (this != &other) {
            Clear();
            FItems = std::move(other.FItems);
        }
        return *this;
    }
    ~TObjectList() { Clear(); }

    // Takes ownership; returns the new item's index.
    int Add(std::unique_ptr<T> item) {
        FItems.push_back(std::move(item));
        return Count() - 1;
    }
    T* GetItem(int index) const {
        if (index < 0 || index >= Count()) return nullptr;
        return FItems[static_cast<std::size_t>(index)].get();
    }
    T* Items(int index) const { return GetItem(index); }
    T* operator[](int index) const { return GetItem(index); }
    int Count() const { return static_cast<int>(FItems.size()); }
    int IndexOf(const T* item) const {
        for (int i = 0; i < Count(); ++i)
            if (FItems[static_cast<std::size_t>(i)].get() == item) return i;
        return -1;
    }
    // Frees the item and removes it; returns its former index or -1.
    int Remove(const T* item) {
        const int i = IndexOf(item);
        if (i >= 0) Delete(i);
        return i;
    }
    void Delete(int index) {
        if (index < 0 || index >= Count()) return;
        FItems.erase(FItems.begin() + index);
    }
    // Gives up ownership of an item without freeing it.
    std::unique_ptr<T> Extract(int index) {
        if (index < 0 || index >= Count()) return nullptr;
        auto p = std::move(FItems[static_cast<std::size_t>(index)]);
        FItems.erase(FItems.begin() + index);
        return p;
    }
    // Frees every item, from the last to the first.
    void Clear() {
        while (!FItems.empty()) FItems.pop_back();
    }

    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<std::unique_ptr<T>> FItems;
};

template <typename T>
class TPointerList {
public:
    int Add(T* item) {
        FItems.push_back(item);
        return Count() - 1;
    }
    T* GetItem(int index) const {
        if (index < 0 || index >= Count()) return nullptr;
        return FItems[static_cast<std::size_t>(index)];
    }
    T* Items(int index) const { return GetItem(index); }
    T* operator[](int index) const { return GetItem(index); }
    int Count() const { return static_cast<int>(FItems.size()); }
    int IndexOf(const T* item) const {
        auto it = std::find(FItems.begin(), FItems.end(), item);
        return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
    }
    int Remove(const T* item) {
        const int i = IndexOf(item);
        if (i >= 0) FItems.erase(FItems.begin() + i);
        return i;
    }
    // Empties the list; the items belong to someone else.
    void ClearWithoutFreeing() { FItems.clear(); }

    auto begin() const { return FItems.begin(); }
    auto end() const { return FItems.end(); }

private:
    std::vector<T*> FItems;
};

}  // namespace zelto
