// The cursor list: insertion behind the cursor, the first-in first-out use of the message queue,
// and the cursor after deletions.
#include "Network/LinkedList/LinkedList.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace {
struct ListGuard {
    LinkedList *list = LinkedList_New();
    ~ListGuard() { LinkedList_Free(list); }
};

void Append(LinkedList *list, intptr_t value) {
    ASSERT_EQ(LinkedList_Add(list), 1);
    LinkedList_SetData(list, value);
}

// The values from First to Last, checking the back links on the way.
std::vector<intptr_t> Values(const LinkedList *list) {
    std::vector<intptr_t> values;
    const LinkedListElement *previous = nullptr;
    for (const LinkedListElement *e = list->First; e != nullptr; e = e->Next) {
        EXPECT_EQ(e->Previous, previous);
        values.push_back(e->Data);
        previous = e;
    }
    EXPECT_EQ(list->Last, previous);
    EXPECT_EQ(list->Count, static_cast<int32_t>(values.size()));
    return values;
}
}  // namespace

TEST(LinkedList, EmptyListHasNothingToMoveOrDelete) {
    ListGuard g;
    EXPECT_EQ(LinkedList_Next(g.list), 0);
    EXPECT_EQ(LinkedList_Previous(g.list), 0);
    EXPECT_EQ(LinkedList_Delete(g.list), 0);
    EXPECT_EQ(LinkedList_GetData(g.list), 0);
    LinkedList_SetData(g.list, 7);  // no current element: writes nothing
    EXPECT_EQ(g.list->Count, 0);
    EXPECT_EQ(g.list->First, nullptr);
}

TEST(LinkedList, DrainsInOrderOfAddingAsAQueue) {
    ListGuard g;
    for (intptr_t v : {10, 20, 30})
        Append(g.list, v);
    EXPECT_EQ(Values(g.list), (std::vector<intptr_t>{10, 20, 30}));

    LinkedList_Reset(g.list);
    std::vector<intptr_t> taken;
    while (LinkedList_Next(g.list) == 1) {
        taken.push_back(LinkedList_GetData(g.list));
        EXPECT_EQ(LinkedList_Delete(g.list), 1);
        EXPECT_EQ(g.list->Current, nullptr);  // deleting the first leaves no current element
    }
    EXPECT_EQ(taken, (std::vector<intptr_t>{10, 20, 30}));
    EXPECT_EQ(g.list->Count, 0);
    EXPECT_EQ(g.list->First, nullptr);
    EXPECT_EQ(g.list->Last, nullptr);
}

TEST(LinkedList, AddAfterResetGoesBehindTheFirstElement) {
    ListGuard g;
    Append(g.list, 1);
    Append(g.list, 2);
    LinkedList_Reset(g.list);
    Append(g.list, 3);
    EXPECT_EQ(Values(g.list), (std::vector<intptr_t>{1, 3, 2}));
    EXPECT_EQ(LinkedList_GetData(g.list), 3);
}

TEST(LinkedList, DeletingInTheMiddleFallsBackToThePredecessor) {
    ListGuard g;
    for (intptr_t v : {1, 2, 3})
        Append(g.list, v);
    LinkedList_Reset(g.list);
    LinkedList_Next(g.list);
    LinkedList_Next(g.list);
    ASSERT_EQ(LinkedList_GetData(g.list), 2);
    EXPECT_EQ(LinkedList_Delete(g.list), 1);
    EXPECT_EQ(LinkedList_GetData(g.list), 1);
    EXPECT_EQ(LinkedList_Next(g.list), 1);
    EXPECT_EQ(LinkedList_GetData(g.list), 3);
    EXPECT_EQ(Values(g.list), (std::vector<intptr_t>{1, 3}));

    // Deleting the last element moves Last back.
    EXPECT_EQ(LinkedList_Delete(g.list), 1);
    EXPECT_EQ(Values(g.list), (std::vector<intptr_t>{1}));
    EXPECT_EQ(LinkedList_Next(g.list), 0);  // stays on the only element
}

TEST(LinkedList, PreviousMirrorsNext) {
    ListGuard g;
    for (intptr_t v : {1, 2})
        Append(g.list, v);
    LinkedList_Reset(g.list);
    EXPECT_EQ(LinkedList_Previous(g.list), 1);  // from before the first to the last
    EXPECT_EQ(LinkedList_GetData(g.list), 2);
    EXPECT_EQ(LinkedList_Previous(g.list), 1);
    EXPECT_EQ(LinkedList_GetData(g.list), 1);
    EXPECT_EQ(LinkedList_Previous(g.list), 0);
    EXPECT_EQ(LinkedList_GetData(g.list), 1);
}

TEST(LinkedList, FreeLeavesTheValuesAlone) {
    std::vector<std::unique_ptr<int>> owned;
    LinkedList *list = LinkedList_New();
    for (int v : {4, 5, 6}) {
        owned.push_back(std::make_unique<int>(v));
        Append(list, reinterpret_cast<intptr_t>(owned.back().get()));
    }
    LinkedList_Free(list);
    LinkedList_Free(nullptr);
    // Still ours and still alive (AddressSanitizer would report a use after free here).
    EXPECT_EQ(*owned[0] + *owned[1] + *owned[2], 15);
}
