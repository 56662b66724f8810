#include "targets.h"

#include <dlfcn.h>

#include <array>
#include <cstdarg>
#include <cstdio>
#include <utility>

namespace {

template <size_t>
using Int64 = int64_t;

template <typename Positions>
struct Weigher;

template <size_t... Position>
struct Weigher<std::index_sequence<Position...>> {
  static int64_t weigh(Int64<Position>... a) {
    uint64_t weight = sizeof...(Position);
    uint64_t power = 1;
    ((power *= kWeighingFactor, weight += static_cast<uint64_t>(a) * power), ...);
    return static_cast<int64_t>(weight);
  }
};

constexpr size_t kArities = 65;

template <size_t... N>
std::array<void *, kArities> weighers(std::index_sequence<N...>) {
  return {reinterpret_cast<void *>(&Weigher<std::make_index_sequence<N>>::weigh)...};
}

}  // namespace

extern "C" {

void *farcall_test_weigher(int64_t n) {
  static const std::array<void *, kArities> table = weighers(std::make_index_sequence<kArities>{});
  if (n < 0 || static_cast<size_t>(n) >= kArities) return nullptr;
  return table[static_cast<size_t>(n)];
}

int64_t farcall_test_difference(int64_t a1, int64_t a2) { return a2 - a1; }

int64_t farcall_test_sum(int64_t count, ...) {
  va_list arguments;
  va_start(arguments, count);
  uint64_t sum = 0;
  for (int64_t i = 0; i < count; ++i) sum += static_cast<uint64_t>(va_arg(arguments, int64_t));
  va_end(arguments);
  return static_cast<int64_t>(sum);
}

int64_t farcall_test_next_argument(int64_t n, ...) {
  va_list arguments;
  va_start(arguments, n);
  int64_t value = n;
  for (int64_t i = 0; i < n; ++i) value = va_arg(arguments, int64_t);
  va_end(arguments);
  return value;
}

namespace {
thread_local char printed[256];
}

int64_t farcall_test_print(const char *format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(printed, sizeof printed, format, arguments);
  va_end(arguments);
  return length;
}

int64_t farcall_test_print_constant(int64_t ignored, ...) {
  va_list arguments;
  va_start(arguments, ignored);
  const int length = std::vsnprintf(printed, sizeof printed, "printed without arguments", arguments);
  va_end(arguments);
  return length;
}

const char *farcall_test_printed(void) { return printed; }

int64_t farcall_test_first_argument(int64_t value) { return value; }

__attribute__((noinline)) int64_t farcall_test_return_address(void) {
  return reinterpret_cast<int64_t>(__builtin_return_address(0));
}

int64_t farcall_test_same_object(int64_t first, int64_t second) {
  Dl_info firstInfo{};
  Dl_info secondInfo{};
  if (dladdr(reinterpret_cast<void *>(first), &firstInfo) == 0) return 0;
  if (dladdr(reinterpret_cast<void *>(second), &secondInfo) == 0) return 0;
  return firstInfo.dli_fbase == secondInfo.dli_fbase ? 1 : 0;
}

}  // extern "C"
