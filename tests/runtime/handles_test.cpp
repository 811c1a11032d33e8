// The handle table in a process of its own: a slot is reused only after every other closed
// slot has been, and retired once its generations are spent, so no handle value comes back.
#include <vantor/handles.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

// With the table full of live handles, one slot is closed and reused over and over: once its
// generations are spent it is retired, so no handle value ever comes back.
TEST(Handles, ASlotWhoseGenerationsAreSpentIsRetired) {
    const uint32_t before = HandleCount();
    static int objects[65536];
    std::vector<uint32_t> held;
    for (int& o : objects) held.push_back(HandleCreate(kHandleStream, &o));
    ASSERT_EQ(std::count(held.begin(), held.end(), 0u), 0);
    int cycling = 0;
    std::set<uint32_t> seen;
    for (int i = 0; i < 5000; ++i) {
        const uint32_t h = HandleCreate(kHandleStream, &cycling);
        ASSERT_NE(h, 0u);
        ASSERT_TRUE(seen.insert(h).second) << "handle " << h << " issued twice, at creation " << i;
        HandleClose(h);
    }
    for (uint32_t h : held) HandleClose(h);
    EXPECT_EQ(HandleCount(), before);
}
