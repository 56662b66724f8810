#include "display_claim.h"

#include <sys/stat.h>

#include <cerrno>

#include "console.h"
#include "display.h"
#include "fatal.h"
#include "listener.h"
#include "lock_file.h"

namespace launcher {
namespace {

ClaimResult ended(ClaimResult::Outcome outcome, std::string message) {
  ClaimResult result;
  result.outcome = outcome;
  result.message = std::move(message);
  return result;
}

std::string display_text(const DisplayClaim& claim) { return "display :" + std::to_string(claim.display); }

// Step 1. Nothing when the lock is ours (claim.lock_file set), else how the
// attempt ends.
std::optional<ClaimResult> take_lock(DisplayClaim& claim) {
  const std::string& path = claim.lock_path;
  // A stale lock is removed and the lock made once more; should that fail
  // too, another process got in first.
  for (int attempt = 0; attempt < 2; ++attempt) {
    FileIdentity made;
    const int err = create_lock_file(path, &made);
    if (err == 0) {
      claim.lock_file = made;
      return std::nullopt;
    }
    if (err != EEXIST)
      return ended(ClaimResult::failed, "cannot create the lock file " + path + ": " + x11::describe_errno(err));
    const LockHolder holder = read_lock_holder(path);
    switch (holder.kind) {
      case LockHolder::gone:
        continue;
      case LockHolder::live:
        return ended(ClaimResult::held, display_text(claim) + " is held by process " +
                                            std::to_string(holder.pid) + " (lock file " + path + ")");
      case LockHolder::unusable:
        return ended(ClaimResult::held, display_text(claim) + " is held: lock file " + path + " " + holder.why);
      case LockHolder::stale: {
        // Beside a socket file the display is taken anyway, and the lock may
        // belong to a live server whose process this PID namespace cannot
        // see (a container sharing /tmp): leave it alone.
        struct stat st;
        if (::lstat(claim.socket_path.c_str(), &st) == 0)
          return ended(ClaimResult::held, "file already exists " + claim.socket_path);
        // ENOENT: it went or was replaced meanwhile; the next try tells.
        if (const int removed = remove_if_same_file(path, holder.file); removed != 0 && removed != ENOENT)
          return ended(ClaimResult::held, display_text(claim) + " is held: the stale lock file " + path +
                                              " of process " + std::to_string(holder.pid) +
                                              " cannot be removed: " + x11::describe_errno(removed));
        continue;
      }
    }
  }
  return ended(ClaimResult::held, display_text(claim) + " is held: lock file " + path + " was taken again");
}

// Step 2.
std::optional<ClaimResult> take_abstract_name(DisplayClaim& claim) {
  const int err = bind_abstract_name(claim.socket_path, &claim.abstract_socket);
  if (err == 0) return std::nullopt;
  const std::string name = "@" + claim.socket_path;
  if (err == EADDRINUSE)
    return ended(ClaimResult::held, display_text(claim) + " is held by another server: abstract socket " + name +
                                        " is in use");
  return ended(ClaimResult::failed, "cannot bind the abstract socket " + name + ": " + x11::describe_errno(err));
}

// Step 3.
std::optional<ClaimResult> take_socket_file(DisplayClaim& claim, x11::UniqueFd* listener) {
  // Anything at the path, a dangling symbolic link too, is someone else's;
  // a leftover socket is never removed or reused.
  struct stat st;
  if (::lstat(claim.socket_path.c_str(), &st) == 0)
    return ended(ClaimResult::held, "file already exists " + claim.socket_path);
  FileIdentity bound;
  const int err = open_unix_listener(claim.socket_path, listener, &bound);
  if (err == 0) {
    claim.socket_file = bound;
    return std::nullopt;
  }
  if (err == EADDRINUSE || err == EEXIST) return ended(ClaimResult::held, "file already exists " + claim.socket_path);
  return ended(ClaimResult::failed, x11::describe_errno(err));
}

void report_failed_removal(const std::string& path, int err) {
  // ENOENT: already gone, or no longer ours (another server's now).
  if (err != 0 && err != ENOENT)
    x11::console_err("Failed to remove " + path + ": " + x11::describe_errno(err) + "\n");
}

}  // namespace

ClaimResult claim_display(std::uint64_t display) {
  auto claim = std::make_shared<DisplayClaim>();
  claim->display = display;
  claim->socket_path = get_server_path_for_unix_display(display);
  claim->lock_path = get_lock_path_for_unix_display(display);
  x11::UniqueFd listener;
  std::optional<ClaimResult> stop = take_lock(*claim);
  if (!stop) stop = take_abstract_name(*claim);
  if (!stop) stop = take_socket_file(*claim, &listener);
  if (stop) {
    release_display_claim(*claim);
    return std::move(*stop);
  }
  ClaimResult result = ended(ClaimResult::claimed, "");
  result.claim = std::move(claim);
  result.listener = std::move(listener);
  return result;
}

ClaimResult choose_display(const std::function<ClaimResult(std::uint64_t)>& try_claim) {
  for (std::uint64_t n = 99; n >= 1; --n) {
    ClaimResult result = try_claim(n);
    if (result.outcome != ClaimResult::held) return result;
  }
  fail("no display in range (1..99) not available: ()");
}

void release_display_claim(DisplayClaim& claim) {
  std::call_once(claim.released, [&claim] {
    // The socket first: while the lock stays, no well-behaved server takes
    // the display and puts a socket of its own there.
    if (claim.socket_file)
      report_failed_removal(claim.socket_path, remove_if_same_file(claim.socket_path, *claim.socket_file));
    if (claim.lock_file)
      report_failed_removal(claim.lock_path, remove_own_lock_file(claim.lock_path, *claim.lock_file));
  });
}

}  // namespace launcher
