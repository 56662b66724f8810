#include "reply_builder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire.h"

namespace x11 {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytes_of(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}

Bytes with_zeros(Bytes b, std::size_t n) {
  b.insert(b.end(), n, 0);
  return b;
}

ResponseMessage build(std::uint8_t opcode, const std::optional<Bytes>& data, bool lsb, std::uint16_t sequence = 1,
                      std::string* notices = nullptr) {
  Request r{{opcode, 0, static_cast<std::uint16_t>(1 + (data ? data->size() / 4 : 0))}, std::nullopt};
  if (data) r.data = std::span<const std::uint8_t>(*data);
  std::string ignored;
  return create_response_message(sequence, r, lsb, notices ? notices : &ignored);
}

Bytes reply(std::uint8_t opcode, const std::optional<Bytes>& data, bool lsb, std::uint16_t sequence = 1) {
  ResponseMessage m = build(opcode, data, lsb, sequence);
  EXPECT_EQ(m.kind, ResponseMessage::Kind::reply) << m.error_lead;
  return m.bytes;
}

Bytes slice(const Bytes& b, std::size_t from, std::size_t to) {
  return to <= b.size() ? Bytes(b.begin() + from, b.begin() + to) : Bytes{};
}

TEST(ReplyBuilder, FixedRepliesInBothByteOrders) {
  // GetInputFocus, sequence 5.
  EXPECT_EQ(reply(43, std::nullopt, true, 5), with_zeros(bytes_of({1, 0, 5, 0, 0, 0, 0, 0, 1, 0, 0, 0}), 20));
  EXPECT_EQ(reply(43, std::nullopt, false, 5), with_zeros(bytes_of({1, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0, 1}), 20));
  // The sequence number is written as given, the largest included.
  EXPECT_EQ(slice(reply(43, std::nullopt, true, 65535), 2, 4), bytes_of({0xff, 0xff}));
  EXPECT_EQ(slice(reply(43, std::nullopt, false, 0x1234), 2, 4), bytes_of({0x12, 0x34}));
  // GetFontPath, sequence 3.
  const Bytes path_tail = bytes_of({9, 0x62, 0x75, 0x69, 0x6c, 0x74, 0x2d, 0x69, 0x6e, 0x73, 0, 0});
  Bytes font_lsb = with_zeros(bytes_of({1, 0, 3, 0, 3, 0, 0, 0, 1, 0}), 22);
  font_lsb.insert(font_lsb.end(), path_tail.begin(), path_tail.end());
  Bytes font_msb = with_zeros(bytes_of({1, 0, 0, 3, 0, 0, 0, 3, 0, 1}), 22);
  font_msb.insert(font_msb.end(), path_tail.begin(), path_tail.end());
  EXPECT_EQ(reply(52, std::nullopt, true, 3), font_lsb);
  EXPECT_EQ(reply(52, std::nullopt, false, 3), font_msb);
  // GetProperty: no such property, whatever window and property are named.
  EXPECT_EQ(reply(20, with_zeros(bytes_of({1, 2, 3, 4}), 20), true, 7), with_zeros(bytes_of({1, 0, 7, 0}), 28));
  EXPECT_EQ(reply(20, std::nullopt, false, 7), with_zeros(bytes_of({1, 0, 0, 7}), 28));
  // BIG-REQUESTS enable, whatever its minor opcode: 4194303 units.
  EXPECT_EQ(slice(reply(133, std::nullopt, true), 0, 12), bytes_of({1, 0, 1, 0, 0, 0, 0, 0, 0xff, 0xff, 0x3f, 0}));
  EXPECT_EQ(slice(reply(133, std::nullopt, false), 0, 12), bytes_of({1, 0, 0, 1, 0, 0, 0, 0, 0, 0x3f, 0xff, 0xff}));
  EXPECT_EQ(reply(133, std::nullopt, false).size(), 32u);
}

TEST(ReplyBuilder, GraphicsContextsGetNoReply) {
  for (bool lsb : {true, false}) {
    EXPECT_EQ(build(55, with_zeros({}, 12), lsb).kind, ResponseMessage::Kind::no_reply);
    EXPECT_EQ(build(55, std::nullopt, lsb).kind, ResponseMessage::Kind::no_reply);
    EXPECT_EQ(build(60, bytes_of({1, 0, 0, 0}), lsb).kind, ResponseMessage::Kind::no_reply);
  }
}

// Red, green and blue as three 16-bit values after a 4-byte colormap.
Bytes alloc_color_data(std::uint16_t red, std::uint16_t green, std::uint16_t blue, bool lsb) {
  Bytes d(12, 0);
  d[0] = 0x20;
  write_u16(&d[4], red, lsb);
  write_u16(&d[6], green, lsb);
  write_u16(&d[8], blue, lsb);
  return d;
}

TEST(ReplyBuilder, AllocColorEchoesTheColourAndMakesATrueColorPixel) {
  const Bytes lsb = reply(84, alloc_color_data(0x1234, 0xABCD, 0xFFFF, true), true);
  ASSERT_EQ(lsb.size(), 32u);
  EXPECT_EQ(slice(lsb, 4, 8), bytes_of({0, 0, 0, 0}));
  EXPECT_EQ(slice(lsb, 8, 14), bytes_of({0x34, 0x12, 0xcd, 0xab, 0xff, 0xff}));
  EXPECT_EQ(slice(lsb, 16, 20), bytes_of({0xff, 0xab, 0x12, 0x00}));
  EXPECT_EQ(slice(lsb, 20, 32), Bytes(12, 0));
  const Bytes msb = reply(84, alloc_color_data(0x1234, 0xABCD, 0xFFFF, false), false);
  EXPECT_EQ(slice(msb, 8, 14), bytes_of({0x12, 0x34, 0xab, 0xcd, 0xff, 0xff}));
  EXPECT_EQ(slice(msb, 16, 20), bytes_of({0x00, 0x12, 0xab, 0xff}));
  // "#123456" as a colour library sends it: the pixel keeps the colour.
  for (bool order : {true, false}) {
    const Bytes r = reply(84, alloc_color_data(0x1200, 0x3400, 0x5600, order), order);
    EXPECT_EQ(read_u32(&r[16], order), 0x123456u);
  }
  // Exactly ten bytes of data are enough.
  EXPECT_EQ(build(84, slice(alloc_color_data(1, 2, 3, true), 0, 12), true).kind, ResponseMessage::Kind::reply);
}

TEST(ReplyBuilder, QueryExtensionAnswersFromTheTable) {
  struct Case {
    std::string name;
    Bytes answer;  // present, major opcode, first event, first error
  } cases[] = {
      {"XKEYBOARD", bytes_of({1, 0x87, 0x55, 0x89})},
      {"RENDER", bytes_of({1, 0x8b, 0, 0x8e})},
      {"BIG-REQUESTS", bytes_of({1, 0x85, 0, 0})},
      {"Generic Event Extension", bytes_of({1, 0x80, 0, 0})},
      {"xkeyboard", bytes_of({0, 0, 0, 0})},
      {"RENDER2", bytes_of({0, 0, 0, 0})},
      {"RENDE", bytes_of({0, 0, 0, 0})},
      {"", bytes_of({0, 0, 0, 0})},
  };
  for (bool lsb : {true, false}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + (lsb ? " LSB" : " MSB"));
      Bytes data(4, 0);
      write_u16(&data[0], static_cast<std::uint16_t>(c.name.size()), lsb);
      data.insert(data.end(), c.name.begin(), c.name.end());
      data.resize(data.size() + pad4(data.size()));
      std::string notices;
      const ResponseMessage m = build(98, data, lsb, 9, &notices);
      ASSERT_EQ(m.kind, ResponseMessage::Kind::reply);
      ASSERT_EQ(m.bytes.size(), 32u);
      EXPECT_EQ(slice(m.bytes, 0, 8), lsb ? bytes_of({1, 0, 9, 0, 0, 0, 0, 0}) : bytes_of({1, 0, 0, 9, 0, 0, 0, 0}));
      EXPECT_EQ(slice(m.bytes, 8, 12), c.answer);
      EXPECT_EQ(slice(m.bytes, 12, 32), Bytes(20, 0));
      EXPECT_EQ(notices, c.answer[0] ? "" : "QueryExtension - not supported " + c.name + "\n");
    }
  }
}

TEST(ReplyBuilder, QueryExtensionNameIsCutToTheDataAndPrintedAsLatin1) {
  // A name length of 200 with only "RENDER" and two zero bytes present.
  Bytes data = bytes_of({200, 0, 0, 0, 'R', 'E', 'N', 'D', 'E', 'R', 0, 0});
  std::string notices;
  ResponseMessage m = build(98, data, true, 1, &notices);
  ASSERT_EQ(m.kind, ResponseMessage::Kind::reply);
  EXPECT_EQ(m.bytes[8], 0);
  EXPECT_EQ(notices, std::string("QueryExtension - not supported RENDER\0\0\n", 40));

  data = bytes_of({0, 4, 0, 0, 'c', 0xE9, 0xFF, 'x'});
  notices.clear();
  m = build(98, data, false, 1, &notices);
  EXPECT_EQ(notices, "QueryExtension - not supported c\xC3\xA9\xC3\xBFx\n");

  // Without a notice buffer the line goes to standard output.
  testing::internal::CaptureStdout();
  Request r{{98, 0, 2}, std::span<const std::uint8_t>(data)};
  create_response_message(1, r, false);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "QueryExtension - not supported c\xC3\xA9\xC3\xBFx\n");
}

TEST(ReplyBuilder, VersionEchoReturnsTheDataWithAMatchingLength) {
  for (std::uint8_t major : {std::uint8_t{128}, std::uint8_t{135}}) {
    // The usual 8-byte version request: 32 bytes, length 0.
    EXPECT_EQ(reply(major, bytes_of({1, 0, 2, 0}), true, 4),
              with_zeros(bytes_of({1, 0, 4, 0, 0, 0, 0, 0, 1, 0, 2, 0}), 20));
    // 12 bytes of data: 40 bytes, two units after the first 32.
    const Bytes data = bytes_of({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    const Bytes lsb = reply(major, data, true);
    ASSERT_EQ(lsb.size(), 40u);
    EXPECT_EQ(slice(lsb, 4, 8), bytes_of({2, 0, 0, 0}));
    EXPECT_EQ(slice(lsb, 8, 20), data);
    EXPECT_EQ(slice(lsb, 20, 40), Bytes(20, 0));
    EXPECT_EQ(slice(reply(major, data, false), 4, 8), bytes_of({0, 0, 0, 2}));
  }
}

TEST(ReplyBuilder, RefusesUnknownOpcodesAndShortRequests) {
  const Bytes window = bytes_of({1, 0, 32, 0});
  ResponseMessage m = build(8, window, true);
  EXPECT_EQ(m.kind, ResponseMessage::Kind::error);
  EXPECT_EQ(m.error_lead + request_text(Request{{8, 0, 2}, std::span<const std::uint8_t>(window)}),
            "Not implemented opcode Request { header: RequestHeader { opcode: 8, extra_spec: 0, length: 2 }, data: "
            "Some([1, 0, 32, 0]) }");
  EXPECT_EQ(build(1, std::nullopt, false).error_lead + request_text(Request{{1, 0, 1}, std::nullopt}),
            "Not implemented opcode Request { header: RequestHeader { opcode: 1, extra_spec: 0, length: 1 }, data: "
            "None }");
  // RENDER is announced but none of its requests is served.
  EXPECT_EQ(build(139, window, true).kind, ResponseMessage::Kind::error);
  for (int op : {0, 2, 19, 21, 42, 44, 97, 99, 127, 129, 132, 134, 136, 255}) {
    EXPECT_EQ(build(static_cast<std::uint8_t>(op), window, true).kind, ResponseMessage::Kind::error) << op;
  }
  // Requests without the bytes their reply needs: never a read past the data.
  struct Short {
    std::uint8_t opcode;
    std::optional<Bytes> data;
  } shorts[] = {
      {84, std::nullopt}, {84, Bytes(8, 0)}, {84, Bytes(9, 0)}, {98, std::nullopt}, {98, Bytes(3, 0)},
      {128, std::nullopt}, {135, std::nullopt}, {135, Bytes(2, 0)},
  };
  for (const Short& s : shorts) {
    for (bool lsb : {true, false}) {
      m = build(s.opcode, s.data, lsb);
      EXPECT_EQ(m.kind, ResponseMessage::Kind::error) << int(s.opcode);
      EXPECT_EQ(m.error_lead, "Request too short for its reply: ");
    }
  }
}

}  // namespace
}  // namespace x11
