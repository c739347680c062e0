#include "common/bytereader.h"

#include <gtest/gtest.h>

#include <array>

using bw::TByteReader;

TEST(ByteReader, ReadsBothByteOrders) {
    const std::array<unsigned char, 8> b{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    TByteReader r(b.data(), b.size());
    EXPECT_EQ(r.U16BE(), 0x0102);
    EXPECT_EQ(r.U16LE(), 0x0403);
    EXPECT_EQ(r.U32LE(), 0x08070605u);
    EXPECT_TRUE(r.AtEnd());
    EXPECT_FALSE(r.Failed());
}

TEST(ByteReader, ShortReadFailsAndStaysFailed) {
    const std::array<unsigned char, 3> b{0xff, 0xfe, 0xfd};
    TByteReader r(b.data(), b.size());
    EXPECT_EQ(r.U32BE(), 0u);
    EXPECT_TRUE(r.Failed());
    EXPECT_TRUE(r.AtEnd());
    // Once failed, every later read stays empty, so a parser checks once at the end.
    EXPECT_EQ(r.U8(), 0);
    EXPECT_TRUE(r.Bytes(1).empty());
}

TEST(ByteReader, SubRangesAndSkipsAreClamped) {
    const std::array<unsigned char, 6> b{'R', 'I', 'F', 'F', 0x02, 0x00};
    TByteReader r(b.data(), b.size());
    EXPECT_TRUE(r.Expect("RIFF"));
    EXPECT_FALSE(r.Expect("WAVE")); // not enough bytes: no move, no failure
    EXPECT_EQ(r.Pos(), 4u);
    TByteReader sub = r.Sub(2);
    EXPECT_EQ(sub.U16LE(), 2);
    EXPECT_TRUE(r.AtEnd());
    r.Seek(1);
    r.Skip(1000);
    EXPECT_TRUE(r.Failed());
    EXPECT_EQ(r.Pos(), r.Size());
    TByteReader r2(b.data(), b.size());
    EXPECT_EQ(r2.Sub(7).Size(), 0u);
    EXPECT_TRUE(r2.Failed());
}
