// Native functions that the trampoline tests call, from C++ directly and from
// Java through the registry (the library exports them by these names).
#ifndef FARCALL_TEST_TARGETS_H
#define FARCALL_TEST_TARGETS_H

#include <cstddef>
#include <cstdint>

// Multiplier of the weighing below; odd, so every argument bit counts.
inline constexpr uint64_t kWeighingFactor = 0x9E3779B97F4A7C15u;

// What the target of arity n returns for arguments a[0..n-1]:
// n + sum over k of a[k] * factor^(k+1), modulo 2^64. Moving, dropping or
// truncating any argument changes it.
inline int64_t expectedWeight(const int64_t *a, size_t n) {
  uint64_t weight = n;
  uint64_t power = 1;
  for (size_t k = 0; k < n; ++k) {
    power *= kWeighingFactor;
    weight += static_cast<uint64_t>(a[k]) * power;
  }
  return static_cast<int64_t>(weight);
}

extern "C" {

// Address of the weighing function that takes exactly n (0 to 64) int64_t
// parameters, or null for another n.
void *farcall_test_weigher(int64_t n);

// a2 - a1.
int64_t farcall_test_difference(int64_t a1, int64_t a2);

// Sum of the count integer variable arguments that follow count.
int64_t farcall_test_sum(int64_t count, ...);

// The argument at position n + 1: called with n arguments (n itself first),
// it reads the register or stack slot just past them. A critical-native
// trampoline leaves its fn argument there, the standard one does not.
int64_t farcall_test_next_argument(int64_t n, ...);

// Formatted prints, for variadic targets called with few arguments: the
// text goes into a buffer of the calling thread (farcall_test_printed), the
// result is its length. The second takes no argument that it reads: its
// named parameter only makes it a variadic function, whose start stores the
// argument registers where the ABI puts their homes.
int64_t farcall_test_print(const char *format, ...);
int64_t farcall_test_print_constant(int64_t ignored, ...);
const char *farcall_test_printed(void);

// Its first argument (register %rdi), for the same purpose with no arguments.
int64_t farcall_test_first_argument(int64_t value);

// Its own return address.
int64_t farcall_test_return_address(void);

// 1 when both addresses lie in the same loaded object, else 0.
int64_t farcall_test_same_object(int64_t first, int64_t second);

#if defined(__x86_64__)
// %rax on entry (assembly): the vector-register count a variadic callee reads.
int64_t farcall_test_entry_rax(void);
#endif

// The stack pointer on entry (assembly); on x86-64 where the return address sits.
int64_t farcall_test_entry_stack(void);

// A call made through farcall_test_marked_call (assembly): it calls `entry`
// with its own arguments unchanged and the callee-saved registers set to
// `marks`, noting its stack pointer and return address;
// farcall_test_marked_target, reached through the entry, records what it
// finds. The offsets are those of the assembly (targets_entry_<processor>.S).
#if defined(__aarch64__)
struct MarkedCall {
  uint64_t entry;
  uint64_t marks[11];  // x19..x29 at the call
  uint64_t seen[11];   // x19..x29 at the target
  uint64_t seenLink;   // x30 at the target
  uint64_t seenStack;  // sp at the target
  uint64_t callStack;  // sp at the call
  uint64_t callLink;   // where the call returns to
  uint64_t saved[12];  // the caller's x19..x30
};
static_assert(sizeof(MarkedCall) == 312, "layout shared with targets_entry_aarch64.S");
#define FARCALL_TEST_MARKED_CALL 1
#elif defined(__powerpc64__) && defined(__LITTLE_ENDIAN__)
struct MarkedCall {
  uint64_t entry;
  uint64_t marks[18];       // r14..r31 at the call
  uint64_t floatMarks[18];  // f14..f31 at the call
  uint64_t conditionMarks;  // cr at the call (fields cr2..cr4 set)
  uint64_t seen[18];        // r14..r31 at the target
  uint64_t floatSeen[18];   // f14..f31 at the target
  uint64_t conditionSeen;   // cr at the target
  uint64_t seenLink;        // lr at the target
  uint64_t seenStack;       // r1 at the target
  uint64_t seenEntry;       // r12 at the target: its global entry's own address
  uint64_t callStack;       // r1 at the call
  uint64_t callLink;        // where the call returns to
  uint64_t saved[18];       // the caller's r14..r31
  uint64_t floatSaved[18];  // the caller's f14..f31
  uint64_t savedCondition;  // the caller's cr
  uint64_t savedLink;       // the caller's lr
  uint64_t savedToc;        // the caller's r2
};
static_assert(sizeof(MarkedCall) == 952, "layout shared with targets_entry_ppc64le.S");
// The condition register fields the ABI makes callee-saved.
inline constexpr uint64_t kSavedConditionFields = 0x00FFF000;
#define FARCALL_TEST_MARKED_CALL 1
#elif defined(__s390x__)
// r6 carries an argument, so it holds no mark; what the caller finds in
// r6..r15 after the return is recorded instead.
struct MarkedCall {
  uint64_t entry;
  uint64_t marks[7];        // r7..r13 at the call
  uint64_t floatMarks[8];   // f8..f15 at the call
  uint64_t seen[7];         // r7..r13 at the target
  uint64_t floatSeen[8];    // f8..f15 at the target
  uint64_t seenLink;        // r14 at the target
  uint64_t seenStack;       // r15 at the target
  uint64_t callStack;       // r15 at the call
  uint64_t callLink;        // where the call returns to
  uint64_t callArgument;    // r6 at the call (an argument register)
  uint64_t after[10];       // r6..r15 after the return
  uint64_t floatAfter[8];   // f8..f15 after the return
  uint64_t saved[9];        // the caller's r6..r14
  uint64_t floatSaved[8];   // the caller's f8..f15
};
static_assert(sizeof(MarkedCall) == 568, "layout shared with targets_entry_s390x.S");
#define FARCALL_TEST_MARKED_CALL 1
#endif

#if defined(FARCALL_TEST_MARKED_CALL)
MarkedCall *farcall_test_marked_state(void);
// Called with the arguments of `entry`, as the entry itself would be.
int64_t farcall_test_marked_call(...);
int64_t farcall_test_marked_target(void);
#endif

}  // extern "C"

#endif
