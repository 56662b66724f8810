/* Call trampolines of com.tamsor.cobol.rununit.Farcall, 64-bit PowerPC
 * little-endian (ELFv2 ABI, Linux).
 *
 * Member N forwards a1 ... aN to the function fn and returns its result:
 *
 *   jlong Java_com_tamsor_cobol_rununit_Farcall_cCall{N}(JNIEnv *, jclass, jlong a1, ..., jlong aN, jlong fn)
 *   jlong JavaCritical_com_tamsor_cobol_rununit_Farcall_cCall{N}(jlong a1, ..., jlong aN, jlong fn)
 *
 * and stdCall{N} likewise: on this platform both families have one body per form.
 *
 * Each entry is a tail call: it has no frame, leaves r1 and the return
 * address in LR as the caller set them, moves the arguments into place and
 * branches, so the target returns straight to the virtual machine. As on
 * aarch64 there is nothing to announce to a variadic target: ELFv2 passes
 * integer variadic arguments exactly like named ones.
 *
 * Argument positions, counting from 1 (the first eight in r3..r10; the rest
 * in the caller's parameter save area, which starts at r1+32 with one
 * doubleword per position, the first eight being homes of the registers):
 *
 *   position   1    2    ...  8     9         10         k >= 9
 *   register   r3   r4   ...  r10   96(r1)    104(r1)    96+8*(k-9)(r1)
 *
 * Standard form: env and class occupy positions 1 and 2, a_i sits at i+2 and
 * fn at N+3. Every a_i moves two positions towards the front: a1..a6 from
 * r5..r10 into r3..r8, a7 and a8 from the first two stack words into r9 and
 * r10, and a9..aN down by 16 bytes within the parameter save area, which
 * belongs to the callee, in ascending order so that no word is overwritten
 * before it is read. fn is taken into r12 first; r11 is the scratch for the
 * stack moves.
 *
 * Critical form: a_i already sits at position i, where the target wants it;
 * fn is at position N+1 and is only taken into r12.
 *
 * Both forms end with `mtctr r12; bctr`: the target is entered at its
 * global entry point with its own address in r12, from which it computes its
 * TOC pointer (r2). The trampolines address no data, need no TOC of their
 * own and touch no non-volatile register (r14-r31, f14-f31, v20-v31,
 * cr2-cr4), nor r1 or LR. r2 needs nothing else: the target may leave its own
 * TOC pointer in r2, so each entry is marked as one that does not preserve r2
 * (.localentry 1, which is also "global and local entry are one"), and every
 * caller that reaches an entry through a pointer or from another module, as
 * the virtual machine does, restores its own r2 after the call.
 *
 * The parameter save area: a variadic target may store all of r3..r10 into
 * the eight home words at r1+32..r1+95 of its caller's frame, whatever the
 * number of its arguments. ELFv2 lets a caller leave that area out when its
 * callee takes all arguments in registers and is not variadic, which is the
 * case of the standard entries up to N = 5 and the critical ones up to N = 7
 * as their prototypes read. The virtual machine always provides the area
 * (the interpreter, the JNI wrappers and the critical-native wrappers alike),
 * so a variadic target writes into space reserved for it. A native caller
 * that calls a variadic target through an entry must provide it as well, as
 * a call through a prototype with an ellipsis does.
 */

#define STANDARD_PREFIX Java_com_tamsor_cobol_rununit_Farcall_
#define CRITICAL_PREFIX JavaCritical_com_tamsor_cobol_rununit_Farcall_

        .abiversion 2
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
        .localentry \prefix\()cCall\n, 1
        .localentry \prefix\()stdCall\n, 1
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
        /* fn, at position n+3: register r(n+5), or the stack */
  .if \n <= 5
        mr      %r12, (\n+5)
  .else
        ld      %r12, 96+8*(\n-6)(%r1)
  .endif
        /* a1..a6: registers, two positions down */
  .if \n >= 1
        mr      %r3, %r5
  .endif
  .if \n >= 2
        mr      %r4, %r6
  .endif
  .if \n >= 3
        mr      %r5, %r7
  .endif
  .if \n >= 4
        mr      %r6, %r8
  .endif
  .if \n >= 5
        mr      %r7, %r9
  .endif
  .if \n >= 6
        mr      %r8, %r10
  .endif
        /* a7, a8: first two stack words into the last two registers */
  .if \n >= 7
        ld      %r9, 96(%r1)
  .endif
  .if \n >= 8
        ld      %r10, 104(%r1)
  .endif
        /* a9..aN: stack word of position k+2 down to that of position k, ascending */
  .if \n >= 9
    .set k, 9
    .rept \n - 8
        ld      %r11, 96+8*(k-7)(%r1)
        std     %r11, 96+8*(k-9)(%r1)
      .set k, k+1
    .endr
  .endif
        mtctr   %r12
        bctr
        entry_end STANDARD_PREFIX, \n
.endm

/* Critical-native form of member n: fn at position n+1, nothing moves. */
.macro critical_entry n
        entry_begin CRITICAL_PREFIX, \n
        /* fn, at position n+1: register r(n+3), or the stack */
  .if \n <= 7
        mr      %r12, (\n+3)
  .else
        ld      %r12, 96+8*(\n-8)(%r1)
  .endif
        mtctr   %r12
        bctr
        entry_end CRITICAL_PREFIX, \n
.endm

#define FARCALL_ARITY(n) standard_entry n ; critical_entry n
#include "arities.h"
#undef FARCALL_ARITY

        .section .note.GNU-stack,"",@progbits
