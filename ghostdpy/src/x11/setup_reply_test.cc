#include "setup_reply.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire.h"

namespace x11 {
namespace {

std::string hex_prefix(const SetupReply& r, std::size_t n) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i ? " %02x" : "%02x", r[i]);
    s += b;
  }
  return s;
}

TEST(SetupReply, StartsWithTheKnownBytes) {
  EXPECT_EQ(hex_prefix(setup_reply(true), 40),
            "01 00 0b 00 00 00 53 09 8c a5 b8 00 00 00 20 00 ff ff 1f 00 00 01 00 00 14 00 ff ff 01 06 00 00 20 "
            "20 08 ff 00 00 00 00");
  EXPECT_EQ(hex_prefix(setup_reply(false), 40),
            "01 00 00 0b 00 00 09 53 00 b8 a5 8c 00 20 00 00 00 1f ff ff 00 00 01 00 00 14 ff ff 01 06 00 00 20 "
            "20 08 ff 00 00 00 00");
  // The first visual type of the first depth.
  const std::vector<std::uint8_t> first_visual(setup_reply(true).begin() + 156, setup_reply(true).begin() + 180);
  EXPECT_EQ(first_visual, (std::vector<std::uint8_t>{0x21, 0, 0, 0, 4, 8, 0, 1, 0, 0, 0xff, 0, 0, 0xff, 0, 0,
                                                      0xff, 0, 0, 0, 0, 0, 0, 0}));
}

// A reader that walks the reply the way a client does and fails on any
// read past the end.
struct Parser {
  const SetupReply& r;
  bool lsb;
  std::size_t pos = 0;
  std::uint8_t u8() { return r.at(pos++); }
  std::uint16_t u16() {
    r.at(pos + 1);
    pos += 2;
    return read_u16(&r[pos - 2], lsb);
  }
  std::uint32_t u32() {
    r.at(pos + 3);
    pos += 4;
    return read_u32(&r[pos - 4], lsb);
  }
  void skip(std::size_t n) { pos += n; }
};

struct Visual {
  std::uint32_t id;
  std::uint8_t visual_class;
  std::uint8_t depth;
};

// Parses a whole reply, checks every fixed field, and returns its visuals.
std::vector<Visual> parse_and_check(bool lsb) {
  Parser p{setup_reply(lsb), lsb};
  EXPECT_EQ(p.u8(), 1);
  p.skip(1);
  EXPECT_EQ(p.u16(), 11);
  EXPECT_EQ(p.u16(), 0);
  EXPECT_EQ(p.u16(), 2387);
  EXPECT_EQ(p.u32(), 12101004u);
  EXPECT_EQ(p.u32(), 0x00200000u);
  EXPECT_EQ(p.u32(), 0x001FFFFFu);
  EXPECT_EQ(p.u32(), 256u);
  const std::uint16_t vendor_length = p.u16();
  EXPECT_EQ(vendor_length, 20);
  EXPECT_EQ(p.u16(), 65535);
  EXPECT_EQ(p.u8(), 1);
  const std::uint8_t formats = p.u8();
  EXPECT_EQ(formats, 6);
  EXPECT_EQ(p.u8(), 0);  // image-byte-order is the server's, not the client's
  EXPECT_EQ(p.u8(), 0);
  EXPECT_EQ(p.u8(), 32);
  EXPECT_EQ(p.u8(), 32);
  EXPECT_EQ(p.u8(), 8);
  EXPECT_EQ(p.u8(), 255);
  p.skip(4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&p.r[p.pos]), vendor_length), "The X.Org Foundation");
  p.skip(vendor_length + pad4(vendor_length));
  const std::uint8_t expected_formats[6][3] = {{1, 1, 32}, {4, 8, 32}, {8, 8, 32}, {16, 16, 32}, {24, 32, 32}, {32, 32, 32}};
  for (const auto& f : expected_formats) {
    EXPECT_EQ(p.u8(), f[0]);
    EXPECT_EQ(p.u8(), f[1]);
    EXPECT_EQ(p.u8(), f[2]);
    p.skip(5);
  }
  EXPECT_EQ(p.pos, 108u);
  EXPECT_EQ(p.u32(), 0x50Du);
  EXPECT_EQ(p.u32(), 0x20u);
  EXPECT_EQ(p.u32(), 0x00FFFFFFu);
  EXPECT_EQ(p.u32(), 0u);
  EXPECT_EQ(p.u32(), 0u);
  EXPECT_EQ(p.u16(), 1280);
  EXPECT_EQ(p.u16(), 1024);
  EXPECT_EQ(p.u16(), 325);
  EXPECT_EQ(p.u16(), 260);
  EXPECT_EQ(p.u16(), 1);
  EXPECT_EQ(p.u16(), 1);
  EXPECT_EQ(p.u32(), 0x21u);
  EXPECT_EQ(p.u8(), 1);
  EXPECT_EQ(p.u8(), 0);
  EXPECT_EQ(p.u8(), 24);
  const std::uint8_t depths = p.u8();
  EXPECT_EQ(depths, 6);
  std::vector<Visual> visuals;
  const std::uint8_t expected_depths[] = {24, 1, 4, 8, 16, 32};
  for (std::uint8_t d = 0; d < depths; ++d) {
    const std::uint8_t depth = p.u8();
    EXPECT_EQ(depth, expected_depths[d]);
    p.skip(1);
    const std::uint16_t count = p.u16();
    p.skip(4);
    for (std::uint16_t v = 0; v < count; ++v) {
      Visual visual{p.u32(), p.u8(), depth};
      EXPECT_EQ(p.u8(), 8);
      EXPECT_EQ(p.u16(), 256);
      EXPECT_EQ(p.u32(), 0x00FF0000u);
      EXPECT_EQ(p.u32(), 0x0000FF00u);
      EXPECT_EQ(p.u32(), 0x000000FFu);
      p.skip(4);
      visuals.push_back(visual);
    }
  }
  EXPECT_EQ(p.pos, kSetupReplySize) << "the parse must consume the whole reply";
  return visuals;
}

TEST(SetupReply, ParsesCompletelyInBothByteOrders) {
  for (bool lsb : {true, false}) {
    SCOPED_TRACE(lsb ? "LSB first" : "MSB first");
    const std::vector<Visual> visuals = parse_and_check(lsb);
    ASSERT_EQ(visuals.size(), 390u);
    EXPECT_EQ(visuals[0].id, 0x21u);
    EXPECT_EQ(visuals[0].visual_class, 4);
    EXPECT_EQ(visuals[0].depth, 24);
    int true_color_24 = 0, direct_color_24 = 0, true_color_32 = 0;
    for (const Visual& v : visuals) {
      if (v.depth == 24 && v.visual_class == 4) ++true_color_24;
      if (v.depth == 24 && v.visual_class == 5) ++direct_color_24;
      if (v.depth == 32 && v.visual_class == 4) ++true_color_32;
    }
    EXPECT_EQ(true_color_24, 180);
    EXPECT_EQ(direct_color_24, 180);
    EXPECT_EQ(true_color_32, 30);
    EXPECT_EQ(visuals[2].id, 0x389u);
    EXPECT_EQ(visuals[359].id, 0x4EEu);
    EXPECT_EQ(visuals[360].id, 0x40u);
    EXPECT_EQ(visuals[389].id, 0x50Bu);
  }
}

// Every 2- and 4-byte number of the reply, by offset: swapping exactly these
// turns one variant into the other.
std::vector<std::pair<std::size_t, std::size_t>> numeric_fields() {
  std::vector<std::pair<std::size_t, std::size_t>> f = {{2, 2}, {4, 2}, {6, 2}, {8, 4}, {12, 4}, {16, 4},
                                                         {20, 4}, {24, 2}, {26, 2}};
  for (std::size_t o : {108, 112, 116, 120, 124}) f.push_back({o, 4});
  for (std::size_t o : {128, 130, 132, 134, 136, 138}) f.push_back({o, 2});
  f.push_back({140, 4});
  std::size_t pos = 148;
  const int counts[] = {360, 0, 0, 0, 0, 30};
  for (int count : counts) {
    f.push_back({pos + 2, 2});
    pos += 8;
    for (int v = 0; v < count; ++v, pos += 24) {
      for (std::size_t o : {0, 8, 12, 16}) f.push_back({pos + o, 4});
      f.push_back({pos + 6, 2});
    }
  }
  EXPECT_EQ(pos, kSetupReplySize);
  return f;
}

TEST(SetupReply, VariantsDifferOnlyInTheByteOrderOfNumbers) {
  SetupReply swapped = setup_reply(true);
  for (auto [offset, size] : numeric_fields()) std::reverse(swapped.begin() + offset, swapped.begin() + offset + size);
  EXPECT_TRUE(swapped == setup_reply(false));
}

// FNV-1a, 64 bits: a digest of every byte, unused ones included.
std::uint64_t digest(const SetupReply& r) {
  std::uint64_t h = 0xcbf29ce484222325u;
  for (std::uint8_t b : r) h = (h ^ b) * 0x100000001b3u;
  return h;
}

// The replies are built at compile time from host integers; a big-endian
// host (s390x) must still make the bytes an x86-64 host makes, which these
// digests were taken from.
TEST(SetupReply, SameBytesOnEveryHost) {
  EXPECT_EQ(digest(setup_reply(true)), 0xea761428e4ac013du);
  EXPECT_EQ(digest(setup_reply(false)), 0x39c34d41848854c3u);
}

}  // namespace
}  // namespace x11
