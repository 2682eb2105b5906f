#include "base/TList.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

using namespace zelto;

namespace {
struct Tracked {
    Tracked(std::vector<int>& log, int id) : fLog(log), fId(id) {}
    ~Tracked() { fLog.push_back(fId); }
    std::vector<int>& fLog;
    int fId;
};
}  // namespace

TEST(TList, OwningListFreesLastToFirstAndGuardsIndexes) {
    std::vector<int> freed;
    {
        TObjectList<Tracked> list;
        for (int i = 0; i < 3; ++i) list.Add(std::make_unique<Tracked>(freed, i));
        EXPECT_EQ(list.GetItem(-1), nullptr);
        EXPECT_EQ(list.GetItem(3), nullptr);
        EXPECT_EQ(list.IndexOf(list.GetItem(2)), 2);
        list.Remove(list.GetItem(1));
        EXPECT_EQ(freed, std::vector<int>{1});
        EXPECT_EQ(list.Count(), 2);
    }
    EXPECT_EQ(freed, (std::vector<int>{1, 2, 0}));
}

TEST(TList, BorrowingListNeverFrees) {
    std::vector<int> freed;
    Tracked a(freed, 1);
    TPointerList<Tracked> list;
    list.Add(&a);
    list.ClearWithoutFreeing();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(freed.empty());
}
