// Fuzz target: create_response_message alone, with every opcode, both byte
// orders, any sequence number and any data the connection handler can frame.
//
// Input layout: byte 0 flags (bit 0: least significant byte first; bit 1:
// framed as a BIG-REQUESTS request, length field 0; bit 2: no notice string,
// notices go to standard output), bytes 1-2 the sequence
// number (low byte first), byte 3 the opcode, byte 4 extra_spec, the rest the
// request data, cut to a multiple of 4 bytes as framing guarantees (absent
// when empty).
//
// Checked for every answer: a reply carries Reply (1), the sequence number in
// the client's order, and a length field that matches its size (32 bytes plus
// 4 per unit); only CreateGC and FreeGC go without a reply; an error text is
// one non-empty line; only QueryExtension writes a notice, for an extension
// it reports absent; and
// the same request always gets the same answer.
#include <cstdint>
#include <span>
#include <string>

#include "fuzz_support.h"
#include "reply_builder.h"
#include "wire.h"

namespace x11::fuzzing {
namespace {

constexpr std::size_t kHeaderSize = 5;

void check_answer(const ResponseMessage& m, const Request& request, std::uint16_t sequence, bool lsb,
                  const std::string& notices) {
  const std::uint8_t opcode = request.header.opcode;
  switch (m.kind) {
    case ResponseMessage::Kind::reply:
      FUZZ_CHECK(m.bytes.size() >= 32 && m.bytes.size() % 4 == 0);
      FUZZ_CHECK(m.bytes[0] == 1);
      FUZZ_CHECK(read_u16(&m.bytes[2], lsb) == sequence);
      FUZZ_CHECK(std::uint64_t{32} + 4 * std::uint64_t{read_u32(&m.bytes[4], lsb)} == m.bytes.size());
      FUZZ_CHECK(m.error_lead.empty());
      break;
    case ResponseMessage::Kind::no_reply:
      FUZZ_CHECK(opcode == 55 || opcode == 60);
      FUZZ_CHECK(m.bytes.empty() && m.error_lead.empty());
      break;
    case ResponseMessage::Kind::error:
      FUZZ_CHECK(!m.error_lead.empty() && m.error_lead.find('\n') == std::string::npos);
      FUZZ_CHECK(m.bytes.empty());
      break;
  }
  // The notice prints the client's name byte for byte, so it may hold line
  // ends of its own; it is one message that starts and ends as documented.
  if (opcode != 98) FUZZ_CHECK(notices.empty());
  if (!notices.empty()) {
    FUZZ_CHECK(notices.starts_with("QueryExtension - not supported ") && notices.back() == '\n');
    FUZZ_CHECK(m.kind == ResponseMessage::Kind::reply && m.bytes[8] == 0);  // not present
  }
}

}  // namespace
}  // namespace x11::fuzzing

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  x11::fuzzing::silence_standard_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace x11;
  using namespace x11::fuzzing;
  if (size < kHeaderSize) return 0;
  const bool lsb = (data[0] & 1) != 0;
  const bool big = (data[0] & 2) != 0;
  const auto sequence = static_cast<std::uint16_t>(data[1] | data[2] << 8);
  const std::span<const std::uint8_t> body(data + kHeaderSize, (size - kHeaderSize) / 4 * 4);

  const std::size_t units = 1 + body.size() / 4;
  Request request{RequestHeader{data[3], data[4], 0}, std::nullopt};
  if (!big && units <= 0xFFFF) request.header.length = static_cast<std::uint16_t>(units);
  if (!body.empty()) request.data = body;

  const bool to_console = (data[0] & 4) != 0;
  std::string notices;
  const ResponseMessage first = create_response_message(sequence, request, lsb, to_console ? nullptr : &notices);
  check_answer(first, request, sequence, lsb, notices);

  std::string again_notices;
  const ResponseMessage again = create_response_message(sequence, request, lsb, to_console ? nullptr : &again_notices);
  FUZZ_CHECK(again.kind == first.kind && again.bytes == first.bytes && again.error_lead == first.error_lead);
  FUZZ_CHECK(again_notices == notices);
  return 0;
}
