#include "platform/serial_queue.h"

#include <atomic>
#include <gtest/gtest.h>
#include <vector>

using namespace sonaric;

TEST(SerialQueue, RunsItemsOneAtATimeInOrder)
{
    SerialQueue queue("test");
    std::vector<int> order;
    std::atomic<int> running { 0 };
    std::atomic<bool> overlapped { false };
    for (int i = 0; i < 100; ++i) {
        queue.async([&, i] {
            overlapped = overlapped || running.fetch_add(1) != 0;
            order.push_back(i);
            running.fetch_sub(1);
        });
    }
    queue.sync([] {});
    EXPECT_FALSE(overlapped);
    ASSERT_EQ(order.size(), 100u);
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(order[i], i);
}

TEST(SerialQueue, SyncFromTheQueueItselfDoesNotDeadlock)
{
    SerialQueue queue("test");
    bool inner = false;
    queue.sync([&] { queue.sync([&] { inner = queue.isCurrent(); }); });
    EXPECT_TRUE(inner);
    EXPECT_FALSE(queue.isCurrent());
}

TEST(SerialQueue, DestructionDrainsSubmittedWork)
{
    std::atomic<int> done { 0 };
    {
        SerialQueue queue("test");
        for (int i = 0; i < 10; ++i)
            queue.async([&] { ++done; });
    }
    EXPECT_EQ(done, 10);
}
