// The LAN receive ring: bytes come out in order, a full ring refuses more, and the counts
// stay consistent for any count a caller passes.
#include <gtest/gtest.h>

#include <vector>

#include "link/link.h"

namespace {

struct Ring : ::testing::Test {
    ConnectionRecord rec;
    void SetUp() override { InitConnectionRecord(&rec); }
};

TEST_F(Ring, WrapsInOrderAndNeverOverwritesUnreadBytes)
{
    std::vector<unsigned char> data(LAN_RING_SIZE + 10);
    for (size_t i = 0; i < data.size(); i++) data[i] = (unsigned char)i;
    EXPECT_EQ(LAN_RING_SIZE - 5, RingPut(&rec, data.data(), LAN_RING_SIZE - 5));
    for (int i = 0; i < 100; i++) EXPECT_EQ(i & 0xFF, RingTake(&rec));
    // 105 bytes of room: the store wraps past the end and is cut to the room.
    EXPECT_EQ(105, RingPut(&rec, data.data(), 200));
    EXPECT_EQ(0, RingRoom(&rec));
    EXPECT_EQ(0, RingPut(&rec, data.data(), 1));
    for (int i = 100; i < LAN_RING_SIZE - 5; i++) ASSERT_EQ(i & 0xFF, RingTake(&rec)) << i;
    for (int i = 0; i < 105; i++) ASSERT_EQ(i & 0xFF, RingTake(&rec)) << i;
    EXPECT_EQ(-2, RingTake(&rec));
}

TEST_F(Ring, NegativeOrZeroCountStoresNothing)
{
    const unsigned char byte = 'a';
    EXPECT_EQ(0, RingPut(&rec, &byte, -4));
    EXPECT_EQ(0, RingPut(&rec, &byte, 0));
    EXPECT_EQ(0, rec.rxCount);
    EXPECT_EQ(LAN_RING_SIZE, RingRoom(&rec));
    EXPECT_EQ(-2, RingTake(&rec));
    EXPECT_EQ(1, RingPut(&rec, &byte, 1));
    EXPECT_EQ('a', RingTake(&rec));
}

}  // namespace
