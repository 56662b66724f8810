// Fuzz target: the whole byte stream of one client connection, from the
// connection setup through request framing (BIG-REQUESTS extended lengths
// included) into the reply builder, played against serve_connection through
// a scripted socket (scripted_socket.h).
//
// Every input is the client's byte stream and is played twice: once as a
// well-paced client that closes in order, once as a careless one whose bytes
// arrive in small pieces, whose stream ends in a reset, and that vanishes
// after a number of the server's sends. Both runs check what the server sent:
// the setup reply of the announced byte order first (nothing at all for any
// other first byte), then only whole, well-formed replies whose sequence
// numbers rise; and that the socket was closed.
#include <sys/eventfd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <span>

#include "connection.h"
#include "fuzz_support.h"
#include "scripted_socket.h"
#include "setup_reply.h"
#include "wire.h"

namespace x11::fuzzing {
namespace {

constexpr std::size_t kReplyHeaderSize = 32;

// Follows the bytes the server sends, across any split into sends.
class ReplyStreamChecker {
 public:
  explicit ReplyStreamChecker(std::span<const std::uint8_t> input) {
    valid_order_ = !input.empty() && (input[0] == 0x6C || input[0] == 0x42);
    lsb_ = valid_order_ && input[0] == 0x6C;
    // Fewer than 65535 requests cannot wrap the sequence number.
    can_wrap_ = input.size() / 4 >= 65535;
  }

  void take(std::span<const std::uint8_t> bytes) {
    FUZZ_CHECK(valid_order_);  // an unknown byte order gets nothing
    for (std::size_t i = 0; i < bytes.size();) {
      if (setup_seen_ < kSetupReplySize) {
        const std::size_t n = std::min(bytes.size() - i, kSetupReplySize - setup_seen_);
        FUZZ_CHECK(std::equal(bytes.begin() + i, bytes.begin() + i + n, setup_reply(lsb_).begin() + setup_seen_));
        setup_seen_ += n;
        i += n;
      } else if (body_left_ > 0) {
        const std::size_t n = std::min<std::uint64_t>(bytes.size() - i, body_left_);
        body_left_ -= n;
        i += n;
      } else {
        header_[header_seen_++] = bytes[i++];
        if (header_seen_ == kReplyHeaderSize) end_of_header();
      }
    }
  }

  void finish() const {
    FUZZ_CHECK(header_seen_ == 0 && body_left_ == 0);  // no reply cut short
  }

 private:
  void end_of_header() {
    FUZZ_CHECK(header_[0] == 1);  // Reply
    const std::uint16_t sequence = read_u16(&header_[2], lsb_);
    FUZZ_CHECK(sequence != 0 || can_wrap_);
    FUZZ_CHECK(can_wrap_ || sequence > last_sequence_);
    last_sequence_ = sequence;
    body_left_ = std::uint64_t{4} * read_u32(&header_[4], lsb_);
    header_seen_ = 0;
  }

  bool valid_order_ = false, lsb_ = true, can_wrap_ = false;
  std::size_t setup_seen_ = 0;
  std::uint8_t header_[kReplyHeaderSize] = {};
  std::size_t header_seen_ = 0;
  std::uint64_t body_left_ = 0;
  std::uint16_t last_sequence_ = 0;
};

void serve(std::span<const std::uint8_t> input, Script script) {
  ReplyStreamChecker checker(input);
  script.input = input;
  script.on_send = [&checker](std::span<const std::uint8_t> bytes) { checker.take(bytes); };
  play(std::move(script));

  // A real descriptor, so that "closed exactly once" can be seen.
  const int fd = ::eventfd(0, EFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  serve_connection(UniqueFd(fd));
  FUZZ_CHECK(::fcntl(fd, F_GETFD) == -1 && errno == EBADF);
  checker.finish();
  // Bytes are received in pieces of at least one byte, plus the call that
  // sees the end: the handler never spins on a stream.
  FUZZ_CHECK(receive_calls() <= input.size() + 1);
}

std::uint32_t mix(std::span<const std::uint8_t> input) {
  std::uint32_t h = 2166136261u;
  for (std::size_t i = 0; i < input.size(); i += 1 + input.size() / 64) h = (h ^ input[i]) * 16777619u;
  return h ^ static_cast<std::uint32_t>(input.size());
}

}  // namespace
}  // namespace x11::fuzzing

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  x11::fuzzing::silence_standard_output();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace x11::fuzzing;
  const std::span<const std::uint8_t> input(data, size);
  serve(input, Script{});

  const std::uint32_t h = mix(input);
  Script careless;
  careless.max_chunk = 1 + h % 13;
  careless.chunk_seed = h;
  careless.end_errno = ECONNRESET;
  careless.sends_before_failure = (h >> 8) % 8;  // 0: not even the setup reply goes out
  serve(input, std::move(careless));
  return 0;
}
