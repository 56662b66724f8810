/* Call trampolines of com.tamsor.cobol.rununit.Farcall, x86-64 System V.
 *
 * Member N forwards a1 ... aN to the function fn and returns its result:
 *
 *   jlong Java_com_tamsor_cobol_rununit_Farcall_cCall{N}(JNIEnv *, jclass, jlong a1, ..., jlong aN, jlong fn)
 *   jlong JavaCritical_com_tamsor_cobol_rununit_Farcall_cCall{N}(jlong a1, ..., jlong aN, jlong fn)
 *
 * and stdCall{N} likewise: on this platform both families have one body per form.
 *
 * Each entry is a tail call: it has no frame, moves the arguments into place
 * and jumps, so the target returns straight to the virtual machine. Before the
 * jump %eax is zeroed: the target may take a variable argument list, and the
 * System V convention has the caller state in %al how many vector registers
 * carry arguments (none here). The virtual machine enters a native with junk
 * in %al, so both forms must clear it.
 *
 * Argument positions, counting from 1 (System V: the first six in registers,
 * the rest on the stack from 8(%rsp) upwards, above the return address):
 *
 *   position   1     2     3     4     5    6    7        8         k >= 7
 *   register   %rdi  %rsi  %rdx  %rcx  %r8  %r9  8(%rsp)  16(%rsp)  8*(k-6)(%rsp)
 *
 * Standard form: env and class occupy positions 1 and 2, a_i sits at i+2 and
 * fn at N+3. Every a_i moves two positions towards the front: a1..a4 from
 * register to register, a5 and a6 from the stack into %r8 and %r9, and a7..aN
 * down by 16 bytes within the incoming argument area, which belongs to the
 * callee, in ascending order so that no slot is overwritten before it is read.
 * The moves are 8 bytes wide on purpose: the caller has just stored each
 * argument on its own, and a wider load spanning two such stores cannot be
 * forwarded from them and stalls. Wider stores built from 8-byte loads (SSE
 * pairs, AVX quadruples) do not pay either: the target reads its arguments
 * back 8 bytes at a time, and a general-purpose store followed by a load of
 * the same stack slot is much cheaper for it than a part of a vector store.
 * fn is taken into %r11 first (not an argument register; %r10 is the scratch
 * for the stack moves).
 *
 * Critical form: a_i already sits at position i, where the target wants it;
 * fn is at position N+1. The entry only clears %eax and jumps through fn's
 * register or stack slot.
 */

#if defined(__CET__) && (__CET__ & 1)
#define BRANCH_TARGET endbr64
#else
#define BRANCH_TARGET
#endif

#define STANDARD_PREFIX Java_com_tamsor_cobol_rununit_Farcall_
#define CRITICAL_PREFIX JavaCritical_com_tamsor_cobol_rununit_Farcall_

        .text

/* Registers of argument positions 1 to 6, for the macros below. */
.macro position_register position, action, operand
  .if \position == 1
        \action \operand, %rdi
  .elseif \position == 2
        \action \operand, %rsi
  .elseif \position == 3
        \action \operand, %rdx
  .elseif \position == 4
        \action \operand, %rcx
  .elseif \position == 5
        \action \operand, %r8
  .else
        \action \operand, %r9
  .endif
.endm

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
        BRANCH_TARGET
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
  .if \n == 0
        movq    %rdx, %r11
  .elseif \n == 1
        movq    %rcx, %r11
  .elseif \n == 2
        movq    %r8, %r11
  .elseif \n == 3
        movq    %r9, %r11
  .else
        movq    8*(\n-3)(%rsp), %r11
  .endif
        /* a1..a4: registers, two positions down */
  .if \n >= 1
        movq    %rdx, %rdi
  .endif
  .if \n >= 2
        movq    %rcx, %rsi
  .endif
  .if \n >= 3
        movq    %r8, %rdx
  .endif
  .if \n >= 4
        movq    %r9, %rcx
  .endif
        /* a5, a6: first two stack slots into the last two registers */
  .if \n >= 5
        movq    8(%rsp), %r8
  .endif
  .if \n >= 6
        movq    16(%rsp), %r9
  .endif
        /* a7..aN: stack slot k-4 down to slot k-6, ascending */
  .if \n >= 7
    .set k, 7
    .rept \n - 6
        movq    8*(k-4)(%rsp), %r10
        movq    %r10, 8*(k-6)(%rsp)
      .set k, k+1
    .endr
  .endif
        xorl    %eax, %eax              /* no vector registers used */
        jmp     *%r11
        entry_end STANDARD_PREFIX, \n
.endm

/* Critical-native form of member n: fn at position n+1, nothing moves. */
.macro critical_entry n
        entry_begin CRITICAL_PREFIX, \n
        xorl    %eax, %eax              /* no vector registers used */
  .if \n <= 5
        position_register (\n+1), jmp_through, dummy
  .else
        jmp     *8*(\n-5)(%rsp)
  .endif
        entry_end CRITICAL_PREFIX, \n
.endm

.macro jmp_through unused, reg
        jmp     *\reg
.endm

#define FARCALL_ARITY(n) standard_entry n ; critical_entry n
#include "arities.h"
#undef FARCALL_ARITY

/* With -fcf-protection the compiler marks every object it makes as ready for
 * indirect branch tracking and the shadow stack; the linker marks the library
 * only when every input carries that note, so this file states it too: the
 * entries begin with endbr64, and they jump without touching return
 * addresses. One GNU_PROPERTY_X86_FEATURE_1_AND (0xc0000002) property whose
 * bits are IBT (1) and SHSTK (2), as __CET__ has them. */
#if defined(__CET__)
        .section .note.gnu.property,"a"
        .p2align 3
        .long   4                       /* name size */
        .long   16                      /* descriptor size */
        .long   5                       /* NT_GNU_PROPERTY_TYPE_0 */
        .asciz  "GNU"
        .long   0xc0000002              /* GNU_PROPERTY_X86_FEATURE_1_AND */
        .long   4                       /* data size */
        .long   (__CET__ & 3)
        .p2align 3                      /* descriptor padded to 8 bytes */
#endif

        .section .note.GNU-stack,"",@progbits
