// libFarcall's trampolines on guarded pages (aarch64 branch protection).
//
// A process built with branch protection has the loader map the code of
// every library marked BTI-compatible with PROT_BTI: there an indirect call
// may only land on a `bti c` (or `bti jc`, or a signing instruction), and
// any other landing raises SIGILL; a target that begins with `bti c` may
// only be reached by `br` through x16 or x17. The test loads the built
// libFarcall.so, guards its code and that of the call targets as that loader
// would, and calls every entry through a function pointer: a missing landing
// pad, or a branch to the target through another register, ends the test
// with SIGILL.
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "targets.h"

#ifndef PROT_BTI
#define PROT_BTI 0x10
#endif

namespace {

struct CodeRange {
  uintptr_t start = 0;
  size_t length = 0;
};

struct Search {
  ElfW(Addr) base;
  CodeRange code;
};

// The executable segment of the loaded object whose load address is base,
// in whole pages.
CodeRange codeOf(ElfW(Addr) base) {
  Search search{base, {}};
  dl_iterate_phdr(
      [](dl_phdr_info *info, size_t, void *data) {
        auto *s = static_cast<Search *>(data);
        if (info->dlpi_addr != s->base) return 0;
        const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
        for (ElfW(Half) i = 0; i < info->dlpi_phnum; ++i) {
          const ElfW(Phdr) &segment = info->dlpi_phdr[i];
          if (segment.p_type != PT_LOAD || (segment.p_flags & PF_X) == 0) continue;
          const uintptr_t start = (info->dlpi_addr + segment.p_vaddr) & ~(page - 1);
          const uintptr_t end = (info->dlpi_addr + segment.p_vaddr + segment.p_memsz + page - 1) & ~(page - 1);
          s->code = {start, end - start};
          return 1;
        }
        return 0;
      },
      &search);
  return search.code;
}

// The code of the loaded object at base, guarded for as long as this lives.
// The protection is lifted again before the object's own start-up and
// finaliser code (which carries no landing pads on Debian 12) could be
// called at exit.
class GuardedCode {
 public:
  explicit GuardedCode(ElfW(Addr) base) : code_(codeOf(base)) {
    if (code_.length == 0) {
      error_ = "no executable segment";
      return;
    }
    if (mprotect(reinterpret_cast<void *>(code_.start), code_.length, PROT_READ | PROT_EXEC | PROT_BTI) != 0) {
      unsupported_ = errno == EINVAL;
      error_ = std::string("mprotect with PROT_BTI: ") + strerror(errno);
      return;
    }
    guarded_ = true;
  }
  ~GuardedCode() {
    if (guarded_) {
      EXPECT_EQ(mprotect(reinterpret_cast<void *>(code_.start), code_.length, PROT_READ | PROT_EXEC), 0);
    }
  }
  GuardedCode(const GuardedCode &) = delete;
  GuardedCode &operator=(const GuardedCode &) = delete;

  bool guarded() const { return guarded_; }
  bool unsupported() const { return unsupported_; }
  const std::string &error() const { return error_; }

 private:
  CodeRange code_;
  bool guarded_ = false;
  bool unsupported_ = false;
  std::string error_;
};

template <size_t>
using Int64 = int64_t;

// Entry of arity N called through a pointer (blr), as the virtual machine
// calls it, in the standard or the critical form.
template <size_t... I>
int64_t callEntry(void *entry, bool standard, const int64_t *a, int64_t fn, std::index_sequence<I...>) {
  if (standard) {
    using Function = int64_t (*)(void *, void *, Int64<I>..., int64_t);
    return reinterpret_cast<Function>(entry)(nullptr, nullptr, a[I]..., fn);
  }
  using Function = int64_t (*)(Int64<I>..., int64_t);
  return reinterpret_cast<Function>(entry)(a[I]..., fn);
}

const char *const kPrefixes[] = {"Java_com_tamsor_cobol_rununit_Farcall_",
                                 "JavaCritical_com_tamsor_cobol_rununit_Farcall_"};

TEST(BranchProtectionTest, EveryEntryIsALandingPadForCalls) {
  // libFarcall loaded on its own (left loaded: unloading would only run its
  // finalisers), and the call targets, both guarded: the targets are built
  // with landing pads, which only a branch through x16 or x17 may reach.
  void *library = dlopen(FARCALL_LIBRARY, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  link_map *farcall = nullptr;
  ASSERT_EQ(dlinfo(library, RTLD_DI_LINKMAP, &farcall), 0) << dlerror();
  Dl_info info{};
  link_map *targets = nullptr;
  ASSERT_NE(dladdr1(reinterpret_cast<void *>(&farcall_test_weigher), &info, reinterpret_cast<void **>(&targets),
                    RTLD_DL_LINKMAP),
            0);
  GuardedCode farcallCode(farcall->l_addr);
  if (farcallCode.unsupported()) GTEST_SKIP() << "no branch protection on this processor: " << farcallCode.error();
  ASSERT_TRUE(farcallCode.guarded()) << farcallCode.error();
  GuardedCode targetCode(targets->l_addr);
  ASSERT_TRUE(targetCode.guarded()) << targetCode.error();
  auto symbol = [library](const std::string &name) { return dlsym(library, name.c_str()); };

  // The guard is in force: a call that lands past an entry's first
  // instruction (cCall0's critical form would otherwise just branch to its
  // argument) is refused.
  auto *pastLandingPad = reinterpret_cast<int64_t (*)(int64_t)>(
      static_cast<char *>(symbol(std::string(kPrefixes[1]) + "cCall0")) + 4);
  const int64_t stack = reinterpret_cast<int64_t>(&farcall_test_entry_stack);
  EXPECT_EXIT(pastLandingPad(stack), testing::KilledBySignal(SIGILL), "");

  // Every entry: called through a pointer, it forwards to its target; the
  // weighing target shows that the guarded code still does its work.
  int64_t a[64];
  for (int64_t k = 0; k < 64; ++k) a[k] = (k << 40) ^ (0x5A5A5A5A5A5A + k);
  int entries = 0;
#define FARCALL_ARITY(n)                                                                                   \
  for (const char *family : {"cCall", "stdCall"}) {                                                        \
    for (const char *prefix : kPrefixes) {                                                                 \
      const std::string name = std::string(prefix) + family + #n;                                          \
      void *entry = symbol(name);                                                                          \
      ASSERT_NE(entry, nullptr) << name;                                                                   \
      const int64_t weigher = reinterpret_cast<int64_t>(farcall_test_weigher(n));                          \
      EXPECT_EQ(callEntry(entry, prefix == kPrefixes[0], a, weigher, std::make_index_sequence<n>{}),       \
                expectedWeight(a, n))                                                                      \
          << name;                                                                                         \
      ++entries;                                                                                           \
    }                                                                                                      \
  }
#include "arities.h"
#undef FARCALL_ARITY
  EXPECT_EQ(entries, 260);
}

}  // namespace
