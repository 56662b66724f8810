#include "threads.h"

#include <memory>

namespace launcher {
namespace {

void* thread_entry(void* arg) {
  const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return nullptr;
}

// Owns a pthread_attr_t for the length of one spawn.
struct ThreadAttr {
  pthread_attr_t attr;
  int err = ::pthread_attr_init(&attr);
  ~ThreadAttr() {
    if (err == 0) ::pthread_attr_destroy(&attr);
  }
};

}  // namespace

int spawn_thread(std::function<void()> body, pthread_t* handle) {
  ThreadAttr a;
  if (a.err != 0) return a.err;
  if (int err = ::pthread_attr_setstacksize(&a.attr, kThreadStackSize); err != 0) return err;
  if (!handle) {
    if (int err = ::pthread_attr_setdetachstate(&a.attr, PTHREAD_CREATE_DETACHED); err != 0)
      return err;
  }
  auto owned = std::make_unique<std::function<void()>>(std::move(body));
  pthread_t thread;
  if (int err = ::pthread_create(&thread, &a.attr, thread_entry, owned.get()); err != 0) return err;
  owned.release();  // the new thread owns it now
  if (handle) *handle = thread;
  return 0;
}

}  // namespace launcher
