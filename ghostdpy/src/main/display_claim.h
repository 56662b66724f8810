// Claiming a Unix display the way X servers do, so that servers started at
// the same moment, or an X server beside us, never end up on one display.
// A display n is claimed in this order:
//   1. its lock file /tmp/.X<n>-lock, made exclusively with our process id
//      in it; a stale one, whose process has gone, is removed and the lock
//      made once more (unless the socket file is there: taken anyway);
//   2. its abstract socket @/tmp/.X11-unix/X<n>, which every X server on
//      Linux holds in its network namespace and X libraries try first,
//      whatever /tmp their process sees;
//   3. its socket file /tmp/.X11-unix/X<n>, which must not exist yet (a
//      leftover one too means the display is taken), bound and listening.
// When a step finds the display held by someone else, the steps before it
// are undone. The claim ends with release_display_claim().
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "own_file.h"
#include "unique_fd.h"

namespace launcher {

struct DisplayClaim {
  std::uint64_t display = 0;
  std::string socket_path;  ///< "/tmp/.X11-unix/X<n>"
  std::string lock_path;    ///< "/tmp/.X<n>-lock"
  std::optional<FileIdentity> lock_file;    ///< the lock we made
  std::optional<FileIdentity> socket_file;  ///< the socket file we bound
  /// Bound for the rest of the process and never listening: a client that
  /// tries the abstract name is refused at once and goes on to the file.
  x11::UniqueFd abstract_socket;
  std::once_flag released;
};

struct ClaimResult {
  enum Outcome {
    claimed,  ///< `claim` and `listener` are set
    held,     ///< another process holds the display; `message` says what
    failed,   ///< a system error; `message` is the text of the "Error: " line
  } outcome = failed;
  std::string message;
  std::shared_ptr<DisplayClaim> claim;
  x11::UniqueFd listener;  ///< listening on the socket file
};

/// Claims display n in the three steps above; anything but `claimed` leaves
/// nothing of ours behind. REQUIRES: prepare_socket_directory() succeeded.
ClaimResult claim_display(std::uint64_t display);

/// Automatic choice: tries 99, 98, ... 1 in turn with try_claim and returns
/// the first result that is not `held`. Fails fatally when all 99 are held.
ClaimResult choose_display(const std::function<ClaimResult(std::uint64_t)>& try_claim);

/// Removes the socket file and then the lock, each only while it is still
/// the file this claim made (and the lock still holds our process id), so
/// that another server's files are never deleted. The abstract name goes
/// with the process. Called from the interrupt thread, the failure hook and
/// the end of a run, possibly at the same time: the first call does the
/// work, the others wait until it is done.
void release_display_claim(DisplayClaim& claim);

}  // namespace launcher
