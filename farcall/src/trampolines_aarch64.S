/* Call trampolines of com.tamsor.cobol.rununit.Farcall, aarch64 (AAPCS64, Linux).
 *
 * Member N forwards a1 ... aN to the function fn and returns its result:
 *
 *   jlong Java_com_tamsor_cobol_rununit_Farcall_cCall{N}(JNIEnv *, jclass, jlong a1, ..., jlong aN, jlong fn)
 *   jlong JavaCritical_com_tamsor_cobol_rununit_Farcall_cCall{N}(jlong a1, ..., jlong aN, jlong fn)
 *
 * and stdCall{N} likewise: on this platform both families have one body per form.
 *
 * Each entry is a tail call: it has no frame, leaves sp and the return address
 * in x30 as the caller set them, moves the arguments into place and branches,
 * so the target returns straight to the virtual machine. Unlike x86-64 there
 * is nothing to clear before a call that may reach a variadic function: on
 * Linux, AAPCS64 passes integer variadic arguments exactly like named ones
 * (registers, then stack slots), and no register announces a vector count.
 *
 * Argument positions, counting from 1 (the first eight in registers, the rest
 * on the stack from [sp] upwards; the return address is in x30, not on the
 * stack):
 *
 *   position   1    2    ...  8    9       10        k >= 9
 *   register   x0   x1   ...  x7   [sp]    [sp, #8]  [sp, #8*(k-9)]
 *
 * Standard form: env and class occupy positions 1 and 2, a_i sits at i+2 and
 * fn at N+3. Every a_i moves two positions towards the front: a1..a6 from
 * x2..x7 into x0..x5, a7 and a8 from the first two stack slots into x6 and
 * x7, and a9..aN down by 16 bytes within the incoming argument area, which
 * belongs to the callee, in ascending order so that no slot is overwritten
 * before it is read. As on x86-64 the stack moves are 8 bytes wide: the
 * caller stored each argument on its own, and a pair load spanning two such
 * stores may not be forwarded from them. fn is taken into x16 first (x17 is
 * the scratch for the stack moves).
 *
 * Critical form: a_i already sits at position i, where the target wants it;
 * fn is at position N+1. The entry only branches through fn, taken into x16
 * from its register or stack slot.
 *
 * Branch protection: every entry begins with `bti c`, the landing pad for
 * calls (blr), so the entries may be reached through a function pointer from
 * guarded pages. The branch to the target goes through x16: a `br` through
 * x16 or x17 is the only indirect branch that may land on a `bti c` (or on a
 * pointer-authentication instruction, which guarded code starts with), so the
 * target may itself be built with branch protection. No entry signs or
 * authenticates anything; x30 is the caller's, untouched. The note at the end
 * marks the object compatible with both (BTI and PAC).
 */

#define STANDARD_PREFIX Java_com_tamsor_cobol_rununit_Farcall_
#define CRITICAL_PREFIX JavaCritical_com_tamsor_cobol_rununit_Farcall_

        .text

/* Registers of argument positions 1 to 8, for the macros below. */
.macro position_register position, action, operand
  .if \position == 1
        \action \operand, x0
  .elseif \position == 2
        \action \operand, x1
  .elseif \position == 3
        \action \operand, x2
  .elseif \position == 4
        \action \operand, x3
  .elseif \position == 5
        \action \operand, x4
  .elseif \position == 6
        \action \operand, x5
  .elseif \position == 7
        \action \operand, x6
  .else
        \action \operand, x7
  .endif
.endm

/* Opens one entry point under two global names (cCall and stdCall). */
.macro entry_begin prefix, n
        .balign 16
        .globl  \prefix\()cCall\n
        .type   \prefix\()cCall\n, %function
        .globl  \prefix\()stdCall\n
        .type   \prefix\()stdCall\n, %function
\prefix\()cCall\n\():
\prefix\()stdCall\n\():
        .cfi_startproc
        bti     c
.endm

.macro entry_end prefix, n
        .cfi_endproc
        .size   \prefix\()cCall\n, . - \prefix\()cCall\n
        .size   \prefix\()stdCall\n, . - \prefix\()stdCall\n
.endm

/* Standard JNI form of member n. */
.macro standard_entry n
        entry_begin STANDARD_PREFIX, \n
        /* fn, at position n+3 */
  .if \n <= 5
        position_register (\n+3), mov, x16
  .else
        ldr     x16, [sp, #8*(\n-6)]
  .endif
        /* a1..a6: registers, two positions down */
  .if \n >= 1
        mov     x0, x2
  .endif
  .if \n >= 2
        mov     x1, x3
  .endif
  .if \n >= 3
        mov     x2, x4
  .endif
  .if \n >= 4
        mov     x3, x5
  .endif
  .if \n >= 5
        mov     x4, x6
  .endif
  .if \n >= 6
        mov     x5, x7
  .endif
        /* a7, a8: first two stack slots into the last two registers */
  .if \n >= 7
        ldr     x6, [sp]
  .endif
  .if \n >= 8
        ldr     x7, [sp, #8]
  .endif
        /* a9..aN: stack slot k-7 down to slot k-9, ascending */
  .if \n >= 9
    .set k, 9
    .rept \n - 8
        ldr     x17, [sp, #8*(k-7)]
        str     x17, [sp, #8*(k-9)]
      .set k, k+1
    .endr
  .endif
        br      x16
        entry_end STANDARD_PREFIX, \n
.endm

/* Critical-native form of member n: fn at position n+1, nothing moves. */
.macro critical_entry n
        entry_begin CRITICAL_PREFIX, \n
  .if \n <= 7
        position_register (\n+1), mov, x16
  .else
        ldr     x16, [sp, #8*(\n-8)]
  .endif
        br      x16
        entry_end CRITICAL_PREFIX, \n
.endm

#define FARCALL_ARITY(n) standard_entry n ; critical_entry n
#include "arities.h"
#undef FARCALL_ARITY

/* GNU property note: GNU_PROPERTY_AARCH64_FEATURE_1_AND with BTI (bit 0) and
 * PAC (bit 1). The linker marks a library with a feature only when every one
 * of its objects carries it. */
        .section .note.gnu.property, "a"
        .balign 8
        .long   4                       /* name size: "GNU" and its NUL */
        .long   16                      /* descriptor size: one property, padded */
        .long   5                       /* NT_GNU_PROPERTY_TYPE_0 */
        .asciz  "GNU"
        .long   0xc0000000              /* GNU_PROPERTY_AARCH64_FEATURE_1_AND */
        .long   4                       /* property data size */
        .long   3                       /* BTI | PAC */
        .long   0                       /* padding to 8 bytes */

        .section .note.GNU-stack,"",%progbits
