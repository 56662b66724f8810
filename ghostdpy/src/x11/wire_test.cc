#include "wire.h"

#include <gtest/gtest.h>

#include <array>

namespace x11 {
namespace {

TEST(Wire, WritesEachByteInTheClientsOrder) {
  std::array<std::uint8_t, 4> b{};
  write_u32(b.data(), 0x04030201, true);
  EXPECT_EQ(b, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));
  write_u32(b.data(), 0x04030201, false);
  EXPECT_EQ(b, (std::array<std::uint8_t, 4>{4, 3, 2, 1}));
  write_u16(b.data(), 0xABCD, true);
  EXPECT_EQ(b[0], 0xCD);
  EXPECT_EQ(b[1], 0xAB);
  write_u16(b.data(), 0xABCD, false);
  EXPECT_EQ(b[0], 0xAB);
  EXPECT_EQ(b[1], 0xCD);
}

TEST(Wire, ReadsBackWhatItWroteWithHighBitsSet) {
  for (bool lsb : {true, false}) {
    std::array<std::uint8_t, 4> b{};
    for (std::uint32_t v : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0x00B8A58Cu}) {
      write_u32(b.data(), v, lsb);
      EXPECT_EQ(read_u32(b.data(), lsb), v);
    }
    for (std::uint16_t v : {std::uint16_t{0}, std::uint16_t{0x8001}, std::uint16_t{0xFFFF}}) {
      write_u16(b.data(), v, lsb);
      EXPECT_EQ(read_u16(b.data(), lsb), v);
    }
  }
}

TEST(Wire, Pad4) {
  EXPECT_EQ(pad4(0), 0u);
  EXPECT_EQ(pad4(1), 3u);
  EXPECT_EQ(pad4(2), 2u);
  EXPECT_EQ(pad4(3), 1u);
  EXPECT_EQ(pad4(18), 2u);
}

}  // namespace
}  // namespace x11
