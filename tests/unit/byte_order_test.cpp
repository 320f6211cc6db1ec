// Byte order of the archive's fields.
#include <gtest/gtest.h>

#include "lib/format/big_format.h"

TEST(ByteOrder, BigEndianLoadsMostSignificantFirst) {
    const std::uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(load_be32(bytes), 0x12345678u);
    EXPECT_EQ(load_le32(bytes), 0x78563412u);
}
