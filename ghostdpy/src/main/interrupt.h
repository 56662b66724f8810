// SIGINT, SIGTERM and SIGHUP, in both listener modes: the handler only
// counts the signal and posts a semaphore; the detached thread "ctrl-c"
// waits on it and does the real work as ordinary code (supervisor.h): with
// no program it runs the clean-up and ends the process with status 0; with
// a program it passes the signal on and lets the main thread finish.
//
// A signal is not passed on when the program has it already: the terminal
// sends Ctrl-C and its hangup to the whole foreground process group, which
// the program shares (the kernel's si_code SI_KERNEL), and a program may
// signal ghostdpy, or its whole group, itself (si_pid).
#pragma once

#include <functional>

namespace launcher {

/// Installs the three handlers and starts "ctrl-c", the only thread that
/// takes the three signals; clean_up runs on it before it ends the process.
/// Fails fatally when that cannot be done. Call it on the main thread
/// before any other thread is started, and before the program or the
/// serving starts (supervisor.h).
void install_interrupt_handling(std::function<void()> clean_up);

}  // namespace launcher
