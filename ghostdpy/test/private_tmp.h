// A private /tmp and a private network for the tests that run ghostdpy. The
// calling process moves into a mount namespace of its own whose /tmp is a
// fresh, empty tmpfs: the display sockets and lock files it and its children
// make, and whatever else they write under /tmp, are seen by nobody else,
// and the machine's /tmp/.X11-unix is never touched. Paths the test needs
// that lie under /tmp (a checkout cloned there, its build tree, the test
// binary) stay reachable: the top directory of each under /tmp is bound back
// from the machine's /tmp.
//
// It also moves into a network namespace of its own, with only a loopback
// interface, brought up: X servers hold an abstract socket per display, a
// name shared by everything in one network namespace whatever its /tmp, so
// tests running at the same time on the same display numbers would
// otherwise see each other's displays. TCP ports are private there too.
//
// Root gets plain mount and network namespaces. Any other account first gets
// a user namespace in which it is root (its own uid and gid mapped to 0),
// where the kernel allows unprivileged user namespaces. Processes there have
// root's capabilities over the private /tmp and network but cannot become
// another account.
#pragma once

#include <string>
#include <vector>

namespace private_tmp {

// Isolates the calling process; `keep` are the paths to keep reachable (the
// current directory is kept too). Returns "" when done, else why not. Call it
// before the process starts any thread: the kernel refuses a user namespace
// to a multithreaded process.
std::string enter(const std::vector<std::string>& keep);

}  // namespace private_tmp
