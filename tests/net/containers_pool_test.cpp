// The per-channel message pool: 64 records at start, new ones when drawn empty, and every record
// kept for reuse once released (LeakSanitizer checks that Clear and the destructor free them).

#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "net/InternalPacketPool.h"

using namespace velt;

TEST(InternalPacketFreeList, DrawnEmptyItMakesRecordsAndKeepsThemAllOnRelease) {
    InternalPacketFreeList pool;
    EXPECT_EQ(pool.Size(), 64u);

    std::vector<InternalPacket*> taken;
    for (int i = 0; i < 100; ++i) {
        taken.push_back(pool.Allocate());
        taken.back()->messageNumber = static_cast<MessageNumberType>(i);
    }
    EXPECT_EQ(pool.Size(), 0u);
    EXPECT_EQ(std::set<InternalPacket*>(taken.begin(), taken.end()).size(), 100u);

    for (InternalPacket* record : taken) pool.Release(record);
    pool.Release(nullptr);  // ignored
    EXPECT_EQ(pool.Size(), 100u);

    // Reuse hands back the same records, fields as they were left.
    std::set<InternalPacket*> again;
    for (int i = 0; i < 100; ++i) again.insert(pool.Allocate());
    EXPECT_EQ(again, std::set<InternalPacket*>(taken.begin(), taken.end()));
    for (InternalPacket* record : again) pool.Release(record);

    // The record released last comes out first: it is the one still warm in the cache.
    InternalPacket* last = pool.Allocate();
    InternalPacket* before = pool.Allocate();
    pool.Release(before);
    pool.Release(last);
    EXPECT_EQ(pool.Allocate(), last);
    EXPECT_EQ(pool.Allocate(), before);
    pool.Release(before);
    pool.Release(last);

    pool.Clear();
    EXPECT_EQ(pool.Size(), 0u);
    InternalPacket* fresh = pool.Allocate();  // still usable after Clear
    ASSERT_NE(fresh, nullptr);
    pool.Release(fresh);
    EXPECT_EQ(pool.Size(), 1u);
}
