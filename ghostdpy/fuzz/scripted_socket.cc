#include "scripted_socket.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "socket_io.h"

namespace x11 {
namespace fuzzing {
namespace {

Script current;
std::size_t position = 0;
std::size_t receives = 0;
std::size_t sends = 0;

std::size_t next_chunk(std::size_t wanted) {
  if (current.max_chunk == 0) return wanted;
  // A cheap deterministic sequence of sizes 1..max_chunk.
  const std::uint32_t mixed = (current.chunk_seed + static_cast<std::uint32_t>(receives)) * 2654435761u;
  const std::size_t chunk = 1 + (mixed >> 16) % current.max_chunk;
  return chunk < wanted ? chunk : wanted;
}

}  // namespace

void play(Script script) {
  current = std::move(script);
  position = 0;
  receives = 0;
  sends = 0;
}

std::size_t receive_calls() { return receives; }

}  // namespace fuzzing

using namespace fuzzing;

ssize_t recv_some(int, void* buf, std::size_t len) {
  ++receives;
  const std::size_t left = current.input.size() - position;
  if (left == 0) {
    if (current.end_errno == 0) return 0;
    errno = current.end_errno;
    return -1;
  }
  const std::size_t n = next_chunk(len < left ? len : left);
  std::memcpy(buf, current.input.data() + position, n);
  position += n;
  return static_cast<ssize_t>(n);
}

int send_all(int, const void* buf, std::size_t len) {
  if (sends++ >= current.sends_before_failure) return EPIPE;
  if (current.on_send) current.on_send({static_cast<const std::uint8_t*>(buf), len});
  return 0;
}

}  // namespace x11
