/* Targets that report machine state at their entry, which C cannot see
 * (z/Architecture, s390x ELF ABI). */

        .text

/* int64_t farcall_test_entry_stack(void): r15 at entry. */
        .balign 16
        .globl  farcall_test_entry_stack
        .type   farcall_test_entry_stack, @function
farcall_test_entry_stack:
        .cfi_startproc
        lgr     %r2, %r15
        br      %r14
        .cfi_endproc
        .size   farcall_test_entry_stack, . - farcall_test_entry_stack

/* A marked call (struct MarkedCall in targets.h, offsets below):
 *
 * farcall_test_marked_call is called with the arguments of a trampoline
 * entry, whose address is in `entry`. It keeps the caller's r6..r14 and
 * f8..f15 in `saved`, loads `marks` into r7..r13 and f8..f15 (r6 holds an
 * argument), notes r6, r15 and the address its call returns to, and calls
 * the entry with r2..r6 and the stack arguments untouched: for the entry, it
 * is the caller. After the return it records r6..r15 and f8..f15 as it
 * finds them, restores the caller's registers and returns the entry's
 * result.
 *
 * farcall_test_marked_target, called through the entry, records r7..r13,
 * f8..f15, r14 and r15 as it finds them. A trampoline that keeps a frame or
 * calls instead of branching shows in r14 and r15 there; one that uses a
 * callee-saved register, or does not give r6 back, shows after the return. */
        .set    ENTRY, 0
        .set    MARKS, 8
        .set    FLOAT_MARKS, 64
        .set    SEEN, 128
        .set    FLOAT_SEEN, 184
        .set    SEEN_LINK, 248
        .set    SEEN_STACK, 256
        .set    CALL_STACK, 264
        .set    CALL_LINK, 272
        .set    CALL_ARGUMENT, 280
        .set    AFTER, 288
        .set    FLOAT_AFTER, 368
        .set    SAVED, 432
        .set    FLOAT_SAVED, 504
        .set    SIZE, 568

        .balign 16
        .globl  farcall_test_marked_call
        .type   farcall_test_marked_call, @function
farcall_test_marked_call:
        .cfi_startproc
        larl    %r1, marked_call
        stmg    %r6, %r14, SAVED(%r1)
        .irp    f, 8,9,10,11,12,13,14,15
        std     \f, FLOAT_SAVED+8*(\f-8)(%r1)
        ld      \f, FLOAT_MARKS+8*(\f-8)(%r1)
        .endr
        lmg     %r7, %r13, MARKS(%r1)
        stg     %r6, CALL_ARGUMENT(%r1)
        stg     %r15, CALL_STACK(%r1)
        larl    %r0, .Lreturn
        stg     %r0, CALL_LINK(%r1)
        lg      %r1, ENTRY(%r1)
        basr    %r14, %r1
.Lreturn:
        larl    %r1, marked_call
        stmg    %r6, %r15, AFTER(%r1)
        .irp    f, 8,9,10,11,12,13,14,15
        std     \f, FLOAT_AFTER+8*(\f-8)(%r1)
        ld      \f, FLOAT_SAVED+8*(\f-8)(%r1)
        .endr
        lmg     %r6, %r14, SAVED(%r1)
        br      %r14
        .cfi_endproc
        .size   farcall_test_marked_call, . - farcall_test_marked_call

        .balign 16
        .globl  farcall_test_marked_target
        .type   farcall_test_marked_target, @function
farcall_test_marked_target:
        .cfi_startproc
        larl    %r1, marked_call
        stmg    %r7, %r13, SEEN(%r1)
        .irp    f, 8,9,10,11,12,13,14,15
        std     \f, FLOAT_SEEN+8*(\f-8)(%r1)
        .endr
        stg     %r14, SEEN_LINK(%r1)
        stg     %r15, SEEN_STACK(%r1)
        lghi    %r2, 1
        br      %r14
        .cfi_endproc
        .size   farcall_test_marked_target, . - farcall_test_marked_target

/* struct MarkedCall *farcall_test_marked_state(void) */
        .balign 16
        .globl  farcall_test_marked_state
        .type   farcall_test_marked_state, @function
farcall_test_marked_state:
        .cfi_startproc
        larl    %r2, marked_call
        br      %r14
        .cfi_endproc
        .size   farcall_test_marked_state, . - farcall_test_marked_state

        .bss
        .balign 16
marked_call:
        .space  SIZE

        .section .note.GNU-stack,"",@progbits
