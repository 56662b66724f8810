// What ghostdpy takes over from whoever started it, and what it hands on to
// the program it starts.
//
// Standard descriptors: a descriptor 0, 1 or 2 that is closed at start would
// be taken by the first socket made, and the trace would then be written
// into a client's X11 stream. They are opened on /dev/null first.
//
// Signals: ghostdpy ignores SIGPIPE (a client that has gone away is an error
// return, not the end of the server), catches SIGINT, SIGTERM and SIGHUP
// (interrupt.h), and needs SIGCHLD at its default action (an ignored SIGCHLD
// makes the kernel reap the program unasked, and its status is lost). The
// program gets all five back as ghostdpy found them, an ignored one
// included, as a parent such as nohup intends.
#pragma once

#include <signal.h>

#include <array>

namespace launcher {

/// Opens /dev/null on each of descriptors 0, 1 and 2 that is closed. Call it
/// before any other descriptor is made. Returns 0 or an errno.
int open_missing_standard_descriptors();

inline constexpr std::array<int, 5> kChangedSignals = {SIGPIPE, SIGCHLD, SIGINT, SIGTERM, SIGHUP};

/// The dispositions of kChangedSignals as found at start, in that order, and
/// the signal mask (ghostdpy's own threads block the stop signals, interrupt.h).
struct InheritedSignals {
  std::array<struct sigaction, kChangedSignals.size()> actions;
  sigset_t mask;
};

/// Records the inherited dispositions and mask, then ignores SIGPIPE and
/// gives SIGCHLD its default action. Fails fatally when that cannot be done.
/// Call it on the main thread before any other thread exists.
void take_over_signals();

/// What take_over_signals() found; read-only from then on.
const InheritedSignals& inherited_signals();

}  // namespace launcher
