// A stand-in for socket_io.cc in the fuzz targets: the connection handler's
// receives are served from a byte string in memory and what it sends is
// handed to a checker, so a run is deterministic and makes no system call.
//
// The script also plays the careless client: receives can be cut into small
// pieces, the stream can end in an error instead of an orderly close, and a
// send can fail after a given number of calls (a client that vanishes while
// its reply is being written).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <span>

namespace x11::fuzzing {

struct Script {
  std::span<const std::uint8_t> input;  ///< everything the client sends
  std::size_t max_chunk = 0;            ///< largest piece one receive returns; 0 = no limit
  std::uint32_t chunk_seed = 0;         ///< varies the piece sizes below max_chunk
  int end_errno = 0;                    ///< 0: the stream then ends; else receive fails with it
  std::size_t sends_before_failure = std::numeric_limits<std::size_t>::max();
  /// Called with the bytes of every send that succeeds.
  std::function<void(std::span<const std::uint8_t>)> on_send;
};

/// Makes `script` the client of every later receive and send call.
void play(Script script);

/// Receive calls made since play(); bounds the work a run may do.
std::size_t receive_calls();

}  // namespace x11::fuzzing
