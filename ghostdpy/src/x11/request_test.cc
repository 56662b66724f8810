#include "request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace x11 {
namespace {

TEST(RequestText, RendersHeaderAndDataInDecimal) {
  const std::vector<std::uint8_t> window = {1, 0, 32, 0};
  EXPECT_EQ(request_text(Request{{8, 0, 2}, window}),
            "Request { header: RequestHeader { opcode: 8, extra_spec: 0, length: 2 }, data: Some([1, 0, 32, 0]) }");
  EXPECT_EQ(request_text(Request{{43, 0, 1}, std::nullopt}),
            "Request { header: RequestHeader { opcode: 43, extra_spec: 0, length: 1 }, data: None }");
  // Extremes of every field, and a BIG-REQUESTS request whose header length is 0.
  const std::vector<std::uint8_t> extremes = {255, 0, 100, 99, 10, 9};
  EXPECT_EQ(request_text(Request{{255, 255, 0}, extremes}),
            "Request { header: RequestHeader { opcode: 255, extra_spec: 255, length: 0 }, data: "
            "Some([255, 0, 100, 99, 10, 9]) }");
  EXPECT_EQ(request_text(Request{{1, 2, 65535}, std::span<const std::uint8_t>{}}),
            "Request { header: RequestHeader { opcode: 1, extra_spec: 2, length: 65535 }, data: Some([]) }");
}

TEST(RequestText, BytesRenderAsAList) {
  std::string out = "x";
  append_bytes_text(out, {});
  EXPECT_EQ(out, "x[]");
  out.clear();
  const std::vector<std::uint8_t> bytes = {1, 0, 5, 0, 255};
  append_bytes_text(out, bytes);
  EXPECT_EQ(out, "[1, 0, 5, 0, 255]");
}

// Every byte value, in buffers long enough to be rendered in several pieces,
// matches the text built one number at a time.
TEST(RequestText, LongBuffersRenderEveryValue) {
  for (std::size_t size : {1u, 255u, 256u, 257u, 1000u, 65536u}) {
    std::vector<std::uint8_t> bytes(size);
    std::string expected = "[";
    for (std::size_t i = 0; i < size; ++i) {
      bytes[i] = static_cast<std::uint8_t>(i * 7 + size);
      expected += (i ? ", " : "") + std::to_string(bytes[i]);
    }
    expected += "]";
    std::string out = "prefix";
    append_bytes_text(out, bytes);
    EXPECT_EQ(out, "prefix" + expected) << "size " << size;
  }
}

}  // namespace
}  // namespace x11
