// The trampolines called directly from C++, in both entry forms, for every
// arity: each argument must reach its position with all 64 bits, the vector
// count must be cleared (x86-64), the callee-saved registers, return address
// and stack pointer must reach the target as the caller left them (aarch64,
// ppc64le, s390x), and no trampoline frame may stand between the caller and
// the target, but for the entries that must make a real call (s390x), which
// must give the caller its callee-saved registers back.
#include <jni.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "targets.h"

namespace {

using Entry = void (*)();

struct Member {
  int arity;
  Entry cStandard, stdStandard, cCritical, stdCritical;
};

}  // namespace

#define FARCALL_ARITY(n)                                           \
  extern "C" void Java_com_tamsor_cobol_rununit_Farcall_cCall##n();       \
  extern "C" void Java_com_tamsor_cobol_rununit_Farcall_stdCall##n();     \
  extern "C" void JavaCritical_com_tamsor_cobol_rununit_Farcall_cCall##n(); \
  extern "C" void JavaCritical_com_tamsor_cobol_rununit_Farcall_stdCall##n();
#include "arities.h"
#undef FARCALL_ARITY

namespace {

constexpr Member kMembers[] = {
#define FARCALL_ARITY(n)                                   \
  {n, Java_com_tamsor_cobol_rununit_Farcall_cCall##n,      \
   Java_com_tamsor_cobol_rununit_Farcall_stdCall##n,       \
   JavaCritical_com_tamsor_cobol_rununit_Farcall_cCall##n, \
   JavaCritical_com_tamsor_cobol_rununit_Farcall_stdCall##n},
#include "arities.h"
#undef FARCALL_ARITY
};
constexpr size_t kMemberCount = sizeof kMembers / sizeof kMembers[0];
constexpr size_t kMaxArity = kMemberCount - 1;

using Arguments = std::array<int64_t, kMaxArity>;

// Stand-ins for what the virtual machine passes first; the trampolines must
// drop them, so any distinctive values do.
JNIEnv *const kEnv = reinterpret_cast<JNIEnv *>(0x0E0E0E0E0E0E0E0E);
jclass const kClass = reinterpret_cast<jclass>(0x0C0C0C0C0C0C0C0C);

template <size_t>
using Int64 = int64_t;

// Calls of member N with exactly N + 1 (+2) arguments, the way the virtual
// machine makes them. The "variadic" calls go through a prototype with an
// ellipsis and add a double, which the compiler passes in %xmm0 and announces
// with %al = 1: the integer positions are unchanged, but the trampoline now
// receives junk in %al, as from the virtual machine. (On aarch64 the double
// goes to v0 and the call is otherwise the same: the variadic calls there
// show that an extra vector argument disturbs nothing.)
template <typename Positions>
struct Caller;

template <size_t... I>
struct Caller<std::index_sequence<I...>> {
  static int64_t standard(Entry entry, const Arguments &a, int64_t fn) {
    using Function = jlong (*)(JNIEnv *, jclass, Int64<I>..., jlong);
    return reinterpret_cast<Function>(entry)(kEnv, kClass, a[I]..., fn);
  }
  static int64_t critical(Entry entry, const Arguments &a, int64_t fn) {
    using Function = jlong (*)(Int64<I>..., jlong);
    return reinterpret_cast<Function>(entry)(a[I]..., fn);
  }
  static int64_t standardWithVectorCount(Entry entry, const Arguments &a, int64_t fn) {
    using Function = jlong (*)(...);
    return reinterpret_cast<Function>(entry)(kEnv, kClass, a[I]..., fn, 1.5);
  }
  static int64_t criticalWithVectorCount(Entry entry, const Arguments &a, int64_t fn) {
    using Function = jlong (*)(...);
    return reinterpret_cast<Function>(entry)(a[I]..., fn, 1.5);
  }
};

using Call = int64_t (*)(Entry, const Arguments &, int64_t);

struct Calls {
  Call standard, critical, standardWithVectorCount, criticalWithVectorCount;
};

template <size_t... N>
std::array<Calls, kMemberCount> callTable(std::index_sequence<N...>) {
  return {Calls{&Caller<std::make_index_sequence<N>>::standard,
                &Caller<std::make_index_sequence<N>>::critical,
                &Caller<std::make_index_sequence<N>>::standardWithVectorCount,
                &Caller<std::make_index_sequence<N>>::criticalWithVectorCount}...};
}

const std::array<Calls, kMemberCount> kCalls = callTable(std::make_index_sequence<kMemberCount>{});

int64_t address(const void *function) { return reinterpret_cast<int64_t>(function); }

enum class Target { fixed, variadic };

// On ppc64le a variadic target may store all eight argument registers into
// its caller's parameter save area, which a call through a prototype with
// every argument in registers need not provide. The virtual machine always
// provides it, and so does a call through the prototype with an ellipsis:
// variadic targets are reached through those calls only there.
#if defined(__powerpc64__)
constexpr bool kVariadicNeedsSaveArea = true;
#else
constexpr bool kVariadicNeedsSaveArea = false;
#endif

// Every way of calling member m: the four entry points, each also with junk
// in %al.
template <typename Check>
void forEachEntry(const Member &m, Check check, Target target = Target::fixed) {
  const Calls &calls = kCalls[static_cast<size_t>(m.arity)];
  if (target == Target::fixed || !kVariadicNeedsSaveArea) {
    check("cCall", m.cStandard, calls.standard);
    check("stdCall", m.stdStandard, calls.standard);
    check("critical cCall", m.cCritical, calls.critical);
    check("critical stdCall", m.stdCritical, calls.critical);
  }
  check("cCall, %al set", m.cStandard, calls.standardWithVectorCount);
  check("stdCall, %al set", m.stdStandard, calls.standardWithVectorCount);
  check("critical cCall, %al set", m.cCritical, calls.criticalWithVectorCount);
  check("critical stdCall, %al set", m.stdCritical, calls.criticalWithVectorCount);
}

uint64_t splitMix(uint64_t &state) {
  uint64_t z = (state += 0x9E3779B97F4A7C15u);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9u;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBu;
  return z ^ (z >> 31);
}

// Arguments with every bit in play: random words, then words at the edges
// of the signed range, each made distinct by its position.
std::array<Arguments, 2> argumentSets() {
  std::array<Arguments, 2> sets{};
  uint64_t state = 42;
  for (auto &value : sets[0]) value = static_cast<int64_t>(splitMix(state));
  const uint64_t edges[] = {0xFFFFFFFFFFFFFFFFu, 0x8000000000000000u, 0x7FFFFFFFFFFFFFFFu,
                            0xFFFFFFFF00000000u, 0x00000000FFFFFFFFu, 0x8000000080000000u};
  for (size_t k = 0; k < kMaxArity; ++k) sets[1][k] = static_cast<int64_t>(edges[k % 6] ^ (k << 8));
  return sets;
}

TEST(TrampolineTest, EveryArgumentArrivesWholeAndInPlace) {
  for (const Arguments &a : argumentSets()) {
    for (const Member &m : kMembers) {
      const size_t n = static_cast<size_t>(m.arity);
      void *weigher = farcall_test_weigher(m.arity);
      ASSERT_NE(weigher, nullptr) << "arity " << n;
      forEachEntry(m, [&](const char *form, Entry entry, Call call) {
        EXPECT_EQ(call(entry, a, address(weigher)), expectedWeight(a.data(), n))
            << form << n;
      });
    }
  }
}

TEST(TrampolineTest, SpecialCases) {
  Arguments a{};
  {  // cCall2 (5, -1) on a target returning a2 - a1
    a[0] = 5;
    a[1] = -1;
    auto difference = [](int64_t a1, int64_t a2) -> int64_t { return a2 - a1; };
    int64_t (*target)(int64_t, int64_t) = difference;
    forEachEntry(kMembers[2], [&](const char *form, Entry entry, Call call) {
      EXPECT_EQ(call(entry, a, address(reinterpret_cast<void *>(target))), -6) << form;
    });
  }
  {  // the result comes back with all 64 bits
    auto wide = []() -> int64_t { return static_cast<int64_t>(0x8123456789ABCDEFu); };
    int64_t (*target)() = wide;
    forEachEntry(kMembers[0], [&](const char *form, Entry entry, Call call) {
      EXPECT_EQ(call(entry, a, address(reinterpret_cast<void *>(target))),
                static_cast<int64_t>(0x8123456789ABCDEFu))
          << form;
    });
  }
}

TEST(TrampolineTest, VariadicTargets) {
  // farcall_test_sum(count, v...) through every member from 1 up
  for (const Member &m : kMembers) {
    if (m.arity == 0) continue;
    Arguments a{};
    a[0] = m.arity - 1;
    int64_t sum = 0;
    for (int k = 1; k < m.arity; ++k) {
      a[static_cast<size_t>(k)] = (k % 2 == 0 ? -1 : 1) * (int64_t{1} << (k % 62)) + k;
      sum += a[static_cast<size_t>(k)];
    }
    forEachEntry(
        m,
        [&](const char *form, Entry entry, Call call) {
          EXPECT_EQ(call(entry, a, address(reinterpret_cast<void *>(&farcall_test_sum))), sum)
              << form << m.arity;
        },
        Target::variadic);
  }

  // snprintf with integer conversions, through cCall6 and beyond (%ld args
  // spill to the stack from the seventh argument on)
  char buffer[128];
  Arguments a{};
  a[0] = address(buffer);
  a[1] = sizeof buffer;
  a[2] = address("%ld|%lx|%d|%s|%ld|%lu");
  a[3] = -1234567890123;
  a[4] = static_cast<int64_t>(0xFEDCBA9876543210u);
  a[5] = 0x100000007;  // %d reads the low 32 bits: 7
  a[6] = address("text");
  a[7] = INT64_MIN;
  a[8] = -1;
  const char *expected =
      "-1234567890123|fedcba9876543210|7|text|-9223372036854775808|18446744073709551615";
  int (*print)(char *, size_t, const char *, ...) = snprintf;
  forEachEntry(
      kMembers[9],
      [&](const char *form, Entry entry, Call call) {
        memset(buffer, 0, sizeof buffer);
        int64_t length = call(entry, a, address(reinterpret_cast<void *>(print)));
        EXPECT_STREQ(buffer, expected) << form;
        EXPECT_EQ(static_cast<int32_t>(length), static_cast<int32_t>(strlen(expected))) << form;
      },
      Target::variadic);
}

#if defined(__x86_64__)
TEST(TrampolineTest, VectorCountIsZeroAtTheTarget) {
  Arguments a{};
  a.fill(-1);
  for (const Member &m : kMembers) {
    forEachEntry(m, [&](const char *form, Entry entry, Call call) {
      EXPECT_EQ(call(entry, a, address(reinterpret_cast<void *>(&farcall_test_entry_rax))), 0)
          << form << m.arity;
    });
  }
}
#endif

// Whether the entry reaches its target by a tail call: every entry but the
// standard ones of s390x that pass a5 in r6, which must make a real call.
bool isTailCall([[maybe_unused]] const Member &m, [[maybe_unused]] Entry entry) {
#if defined(__s390x__)
  return entry == m.cCritical || entry == m.stdCritical || m.arity <= 4;
#else
  return true;
#endif
}

#if defined(FARCALL_TEST_MARKED_CALL)
// Every entry called the way a direct call of the target would be made, with
// marks in the callee-saved registers: the target must find the marks and,
// where the entry is a tail call, the caller's return address and stack
// pointer (so its stack arguments where a direct call puts them). Where the
// entry makes a real call (s390x), the caller must find its registers again
// after the return instead.
TEST(TrampolineTest, TargetSeesTheCallersRegistersLinkAndStack) {
  // The marks, with everything recorded cleared: copied in before each call.
  MarkedCall marks{};
  uint64_t state = 7;
  for (uint64_t &mark : marks.marks) mark = splitMix(state);
  constexpr size_t kMarks = std::size(MarkedCall{}.marks);
#if !defined(__aarch64__)
  for (uint64_t &mark : marks.floatMarks) mark = splitMix(state);
  constexpr size_t kFloatMarks = std::size(MarkedCall{}.floatMarks);
#endif
#if defined(__powerpc64__)
  marks.conditionMarks = splitMix(state);
#endif
  MarkedCall *marked = farcall_test_marked_state();
  const Entry through = reinterpret_cast<Entry>(&farcall_test_marked_call);
  const int64_t target = address(reinterpret_cast<void *>(&farcall_test_marked_target));
  // Distinct arguments: on s390x r6 holds a3 for the caller and a5 for the
  // target of a standard entry.
  Arguments a{};
  for (auto &value : a) value = static_cast<int64_t>(splitMix(state));
  for (const Member &m : kMembers) {
    forEachEntry(m, [&](const char *form, Entry entry, Call call) {
      const std::string what = std::string(form) + std::to_string(m.arity);
      *marked = marks;
      marked->entry = reinterpret_cast<uint64_t>(entry);
      EXPECT_EQ(call(through, a, target), 1) << what;
      for (size_t r = 0; r < kMarks; ++r) EXPECT_EQ(marked->seen[r], marked->marks[r]) << what << ": mark " << r;
#if !defined(__aarch64__)
      for (size_t r = 0; r < kFloatMarks; ++r) {
        EXPECT_EQ(marked->floatSeen[r], marked->floatMarks[r]) << what << ": floating-point mark " << r;
      }
#endif
#if defined(__powerpc64__)
      EXPECT_EQ(marked->conditionSeen & kSavedConditionFields, marked->conditionMarks & kSavedConditionFields)
          << what << ": cr2..cr4";
      EXPECT_EQ(marked->seenEntry, static_cast<uint64_t>(target)) << what << ": r12";
#endif
      if (isTailCall(m, entry)) {
        EXPECT_EQ(marked->seenLink, marked->callLink) << what << ": return address";
        EXPECT_EQ(marked->seenStack, marked->callStack) << what << ": stack pointer";
      }
#if defined(__s390x__)
      // r6..r15 after the return (r14 is the return address, not kept).
      EXPECT_EQ(marked->after[0], marked->callArgument) << what << ": r6 after the return";
      for (size_t r = 0; r < kMarks; ++r) {
        EXPECT_EQ(marked->after[1 + r], marked->marks[r]) << what << ": r" << 7 + r << " after the return";
      }
      EXPECT_EQ(marked->after[9], marked->callStack) << what << ": r15 after the return";
      for (size_t r = 0; r < kFloatMarks; ++r) {
        EXPECT_EQ(marked->floatAfter[r], marked->floatMarks[r]) << what << ": f" << 8 + r << " after the return";
      }
#endif
    });
  }
}
#endif

// The lowest and highest entry addresses bound the trampolines' code; the
// last entry is short, so a margin covers its body.
bool insideTrampolines(int64_t code) {
  int64_t low = INT64_MAX;
  int64_t high = 0;
  for (const Member &m : kMembers) {
    for (Entry e : {m.cStandard, m.stdStandard, m.cCritical, m.stdCritical}) {
      low = std::min(low, address(reinterpret_cast<void *>(e)));
      high = std::max(high, address(reinterpret_cast<void *>(e)));
    }
  }
  return code >= low && code < high + 1024;
}

TEST(TrampolineTest, TargetReturnsStraightToTheCaller) {
  Arguments a{};
  for (const Member &m : kMembers) {
    forEachEntry(m, [&](const char *form, Entry entry, Call call) {
      if (!isTailCall(m, entry)) return;
      int64_t returnAddress =
          call(entry, a, address(reinterpret_cast<void *>(&farcall_test_return_address)));
      EXPECT_FALSE(insideTrampolines(returnAddress)) << form << m.arity;
      EXPECT_NE(returnAddress, 0) << form << m.arity;
    });
  }
  // Without stack arguments, the target's stack pointer is the one a direct
  // call from the same place would give it.
  using NoArguments = int64_t (*)();
  using Standard0 = jlong (*)(JNIEnv *, jclass, jlong);
  using Critical0 = jlong (*)(jlong);
  const int64_t stack = address(reinterpret_cast<void *>(&farcall_test_entry_stack));
  const int64_t direct = reinterpret_cast<NoArguments>(&farcall_test_entry_stack)();
  EXPECT_EQ(reinterpret_cast<Standard0>(kMembers[0].cStandard)(kEnv, kClass, stack), direct);
  EXPECT_EQ(reinterpret_cast<Critical0>(kMembers[0].cCritical)(stack), direct);
}

TEST(TrampolineTest, CriticalFormLeavesFnInPlace) {
  // What the JVM test uses to tell the two forms apart: after a critical
  // call the position past the arguments still holds fn, after a standard
  // call it does not.
  const int64_t next = address(reinterpret_cast<void *>(&farcall_test_next_argument));
  const int64_t first = address(reinterpret_cast<void *>(&farcall_test_first_argument));
  Arguments a{};
  for (const Member &m : kMembers) {
    const Calls &calls = kCalls[static_cast<size_t>(m.arity)];
    // farcall_test_next_argument is variadic (see forEachEntry).
    const Call critical = kVariadicNeedsSaveArea ? calls.criticalWithVectorCount : calls.critical;
    const Call standard = kVariadicNeedsSaveArea ? calls.standardWithVectorCount : calls.standard;
    a.fill(0x5A5A);
    a[0] = m.arity;
    int64_t fn = m.arity == 0 ? first : next;
    EXPECT_EQ(critical(m.cCritical, a, fn), fn) << m.arity;
    EXPECT_NE(standard(m.cStandard, a, fn), fn) << m.arity;
  }
}

}  // namespace
