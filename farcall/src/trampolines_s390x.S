/* Call trampolines of com.tamsor.cobol.rununit.Farcall, z/Architecture
 * (s390x ELF ABI, Linux, big-endian).
 *
 * Member N forwards a1 ... aN to the function fn and returns its result:
 *
 *   jlong Java_com_tamsor_cobol_rununit_Farcall_cCall{N}(JNIEnv *, jclass, jlong a1, ..., jlong aN, jlong fn)
 *   jlong JavaCritical_com_tamsor_cobol_rununit_Farcall_cCall{N}(jlong a1, ..., jlong aN, jlong fn)
 *
 * and stdCall{N} likewise: on this platform both families have one body per form.
 *
 * Argument positions, counting from 1 (the first five in r2..r6, the rest in
 * the caller's frame above the 160-byte register save area that every caller
 * provides to its callee; the return address is in r14):
 *
 *   position   1    2    ...  5    6           7           k >= 6
 *   register   r2   r3   ...  r6   160(%r15)   168(%r15)   160+8*(k-6)(%r15)
 *
 * r6 is both an argument register and callee-saved: whatever a function
 * does, r6 (like r7..r13, r15 and f8..f15) must hold the caller's value when
 * it returns. As on aarch64 nothing is announced to a variadic target: integer
 * variadic arguments travel exactly like named ones.
 *
 * Critical form, every N: a_i already sits at position i, where the target
 * wants it; fn is at position N+1. The entry takes fn into r1 and branches:
 * a tail call, with r14 and r15 as the caller set them. When N >= 5 the
 * target receives a5 in r6 from the caller itself, which also expects a5
 * back there.
 *
 * Standard form, N <= 4: env and class occupy positions 1 and 2, a_i sits at
 * i+2 and fn at N+3; every a_i moves two positions towards the front (a1..a3
 * from r4..r6 into r2..r4, a4 from the first stack word into r5) and the
 * entry branches through r1 to fn, a tail call like the critical form. The
 * target takes nothing in r6, and the caller's r6 is left as it was.
 *
 * Standard form, N >= 5: the target must receive a5 in r6, and a target that
 * saves and restores r6 returns with a5 in it, not with the value of the
 * caller, who had put a3 there and expects it back. No tail call can keep
 * that rule (GCC refuses any sibling call that passes an argument in r6 for
 * this reason), so these entries make the smallest real call that keeps the
 * ABI: r6 and r14 go into their slots of the register save area that the
 * caller provided (r6 at 48, r14 at 112), a frame of their own holds a
 * register save area for the target and the outgoing words a6..aN, `basr`
 * calls fn, and r15, r6 and r14 are restored before the return. r0 is the
 * scratch for the stack moves.
 */

#define STANDARD_PREFIX Java_com_tamsor_cobol_rununit_Farcall_
#define CRITICAL_PREFIX JavaCritical_com_tamsor_cobol_rununit_Farcall_

        .text

/* Opens one entry point under two global names (cCall and stdCall). */
.macro entry_begin prefix, n
        .balign 16
        .globl  \prefix\()cCall\n
        .type   \prefix\()cCall\n, @function
        .globl  \prefix\()stdCall\n
        .type   \prefix\()stdCall\n, @function
\prefix\()cCall\n\():
\prefix\()stdCall\n\():
        .cfi_startproc
.endm

.macro entry_end prefix, n
        .cfi_endproc
        .size   \prefix\()cCall\n, . - \prefix\()cCall\n
        .size   \prefix\()stdCall\n, . - \prefix\()stdCall\n
.endm

/* Standard JNI form of member n. */
.macro standard_entry n
        entry_begin STANDARD_PREFIX, \n
  .if \n <= 4
        /* fn, at position n+3 */
    .if \n <= 2
        lgr     %r1, \n+4
    .else
        lg      %r1, 160+8*(\n-3)(%r15)
    .endif
        /* a1..a4, two positions down */
    .if \n >= 1
        lgr     %r2, %r4
    .endif
    .if \n >= 2
        lgr     %r3, %r5
    .endif
    .if \n >= 3
        lgr     %r4, %r6
    .endif
    .if \n >= 4
        lg      %r5, 160(%r15)
    .endif
        br      %r1
  .else
    /* A frame: the target's register save area and a6..aN, 8-byte aligned. */
    .set frame, 160 + 8*(\n-5)
        stg     %r6, 48(%r15)
        .cfi_offset %r6, -112
        stg     %r14, 112(%r15)
        .cfi_offset %r14, -48
        lay     %r15, -frame(%r15)
        .cfi_adjust_cfa_offset frame
        /* From here the caller's words lie `frame` bytes further up. */
        lg      %r1, frame+160+8*(\n-3)(%r15)   /* fn, at position n+3 */
        lgr     %r2, %r4
        lgr     %r3, %r5
        lgr     %r4, %r6
        lg      %r5, frame+160(%r15)            /* a4 */
        lg      %r6, frame+168(%r15)            /* a5 */
        /* a6..aN: caller's position k+2 into the outgoing position k */
    .set k, 6
    .rept \n - 5
        lg      %r0, frame+160+8*(k-4)(%r15)
        stg     %r0, 160+8*(k-6)(%r15)
      .set k, k+1
    .endr
        basr    %r14, %r1
        lay     %r15, frame(%r15)
        .cfi_adjust_cfa_offset -frame
        lg      %r6, 48(%r15)
        .cfi_restore %r6
        lg      %r14, 112(%r15)
        .cfi_restore %r14
        br      %r14
  .endif
        entry_end STANDARD_PREFIX, \n
.endm

/* Critical-native form of member n: fn at position n+1, nothing moves. */
.macro critical_entry n
        entry_begin CRITICAL_PREFIX, \n
  .if \n <= 4
        lgr     %r1, \n+2
  .else
        lg      %r1, 160+8*(\n-5)(%r15)
  .endif
        br      %r1
        entry_end CRITICAL_PREFIX, \n
.endm

#define FARCALL_ARITY(n) standard_entry n ; critical_entry n
#include "arities.h"
#undef FARCALL_ARITY

        .section .note.GNU-stack,"",@progbits
