#include "fatal.h"

#include <atomic>

#include "console.h"

namespace launcher {
namespace {

// Written once by the main thread before any thread that reads it exists;
// the hook object is never freed, as hooks may run until the process ends.
std::atomic<const std::function<void()>*> failure_hook{nullptr};

}  // namespace

void fail(std::string message) { throw FatalFailure{std::move(message)}; }

void install_failure_hook(std::function<void()> hook) {
  failure_hook.store(new std::function<void()>(std::move(hook)), std::memory_order_release);
}

void report_fatal_failure(std::string_view thread, std::string_view message) {
  if (const auto* hook = failure_hook.load(std::memory_order_acquire)) (*hook)();
  x11::report_failure(thread, message);
}

bool run_guarded(std::string_view thread, const std::function<void()>& body) {
  try {
    body();
    return true;
  } catch (const FatalFailure& failure) {
    report_fatal_failure(thread, failure.message);
    return false;
  }
}

}  // namespace launcher
