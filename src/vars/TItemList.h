#pragma once
// The list behind TZeltoVarList and TGadgetVarList: a list of object pointers that either owns its items
// (frees them in Clear and on destruction, last to first) or borrows them (emptied with
// ClearWithoutFreeing). The request service owns its request variables; the proxy's read and write lists
// borrow the same objects.
#include <memory>
#include <utility>
#include <stdexcept>

#include "base/TList.h"

namespace zelto {

enum class TListOwnership { Owns, Borrows };

template <typename T>
class TItemList {
public:
    explicit TItemList(TListOwnership ownership = TListOwnership::Owns) : fOwnership(ownership) {}
    TItemList(const TItemList&) = delete;
    TItemList& operator=(const TItemList&) = delete;
    TItemList(TItemList&& other) noexcept : fOwnership(other.fOwnership), fItems(std::move(other.fItems)) {
        other.fItems.ClearWithoutFreeing();
    }
    TItemList& operator=(TItemList&& other) noexcept {
        if (this != &other) {
            if (OwnsItems()) Clear();
            fOwnership = other.fOwnership;
            fItems = std::move(other.fItems);
            other.fItems.ClearWithoutFreeing();
        }
        return *this;
    }
    ~TItemList() {
        if (OwnsItems()) Clear();
    }

    bool OwnsItems() const { return fOwnership == TListOwnership::Owns; }

    // Owning list: takes the item over. A borrowing list refuses it (it would never be freed).
    int Add(std::unique_ptr<T> item) {
        if (!OwnsItems() && item) throw std::logic_error("A borrowing list cannot take over an item");
        return fItems.Add(item.release());
    }
    // Borrowing list: holds the pointer. An owning list accepts only nullptr this way.
    int Add(T* item) {
        if (OwnsItems() && item) throw std::logic_error("An owning list takes its items as std::unique_ptr");
        return fItems.Add(item);
    }

    int Count() const { return fItems.Count(); }
    T* GetItem(int index) const { return fItems.GetItem(index); }
    T* Items(int index) const { return fItems.GetItem(index); }
    T* operator[](int index) const { return fItems.GetItem(index); }
    int IndexOf(const T* item) const { return fItems.IndexOf(item); }

    // Removes the first occurrence; returns its former index or -1. An owning list frees the item (use
    // Extract to take it out alive); a borrowing list leaves it to its owner.
    int Remove(const T* item) {
        const int i = fItems.IndexOf(item);
        if (i >= 0) {
            fItems.Remove(item);
            if (OwnsItems()) delete item;
        }
        return i;
    }
    // Owning list: takes the first occurrence out and hands it over; nullptr when absent.
    std::unique_ptr<T> Extract(T* item) {
        if (!OwnsItems() || fItems.Remove(item) < 0) return nullptr;
        return std::unique_ptr<T>(item);
    }
    // Frees the items of an owning list from the last to the first (nil entries skipped), then empties it.
    // A borrowing list is only emptied.
    void Clear() {
        if (OwnsItems())
            for (int i = Count() - 1; i >= 0; --i) delete fItems.GetItem(i);
        fItems.ClearWithoutFreeing();
    }
    // Empties a borrowing list. On an owning list this would lose its items, so it is refused.
    void ClearWithoutFreeing() {
        if (OwnsItems() && Count() > 0) throw std::logic_error("ClearWithoutFreeing on a list that owns its items");
        fItems.ClearWithoutFreeing();
    }

    auto begin() const { return fItems.begin(); }
    auto end() const { return fItems.end(); }

private:
    TListOwnership fOwnership;
    TPointerList<T> fItems;
};

}  // namespace zelto
