/* Targets that report machine state at their entry, which C cannot see
 * (aarch64). Each begins with a landing pad, like the trampolines. */

        .text

/* int64_t farcall_test_entry_stack(void): sp at entry. */
        .balign 16
        .globl  farcall_test_entry_stack
        .type   farcall_test_entry_stack, %function
farcall_test_entry_stack:
        .cfi_startproc
        bti     c
        mov     x0, sp
        ret
        .cfi_endproc
        .size   farcall_test_entry_stack, . - farcall_test_entry_stack

/* A marked call (struct MarkedCall in targets.h, offsets below):
 *
 * farcall_test_marked_call is called with the arguments of a trampoline
 * entry, whose address is in `entry`. It keeps the caller's x19..x30 in
 * `saved`, loads `marks` into x19..x29, notes its sp and the address its
 * call returns to, and calls the entry with x0..x7 and the stack arguments
 * untouched: for the entry, it is the caller. Then it restores the registers
 * and returns the entry's result.
 *
 * farcall_test_marked_target, called through the entry, records x19..x29,
 * x30 and sp as it finds them. A trampoline that keeps a frame, calls
 * instead of branching, or uses a callee-saved register shows there. */
        .set    ENTRY, 0
        .set    MARKS, 8
        .set    SEEN, 96
        .set    SEEN_LINK, 184
        .set    SEEN_STACK, 192
        .set    CALL_STACK, 200
        .set    CALL_LINK, 208
        .set    SAVED, 216
        .set    SIZE, 312

        .balign 16
        .globl  farcall_test_marked_call
        .type   farcall_test_marked_call, %function
farcall_test_marked_call:
        .cfi_startproc
        bti     c
        adrp    x16, marked_call
        add     x16, x16, :lo12:marked_call
        stp     x19, x20, [x16, #SAVED]
        stp     x21, x22, [x16, #SAVED+16]
        stp     x23, x24, [x16, #SAVED+32]
        stp     x25, x26, [x16, #SAVED+48]
        stp     x27, x28, [x16, #SAVED+64]
        stp     x29, x30, [x16, #SAVED+80]
        ldp     x19, x20, [x16, #MARKS]
        ldp     x21, x22, [x16, #MARKS+16]
        ldp     x23, x24, [x16, #MARKS+32]
        ldp     x25, x26, [x16, #MARKS+48]
        ldp     x27, x28, [x16, #MARKS+64]
        ldr     x29, [x16, #MARKS+80]
        mov     x17, sp
        str     x17, [x16, #CALL_STACK]
        adr     x17, 1f
        str     x17, [x16, #CALL_LINK]
        ldr     x17, [x16, #ENTRY]
        blr     x17
1:      adrp    x16, marked_call
        add     x16, x16, :lo12:marked_call
        ldp     x19, x20, [x16, #SAVED]
        ldp     x21, x22, [x16, #SAVED+16]
        ldp     x23, x24, [x16, #SAVED+32]
        ldp     x25, x26, [x16, #SAVED+48]
        ldp     x27, x28, [x16, #SAVED+64]
        ldp     x29, x30, [x16, #SAVED+80]
        ret
        .cfi_endproc
        .size   farcall_test_marked_call, . - farcall_test_marked_call

        .balign 16
        .globl  farcall_test_marked_target
        .type   farcall_test_marked_target, %function
farcall_test_marked_target:
        .cfi_startproc
        bti     c
        adrp    x16, marked_call
        add     x16, x16, :lo12:marked_call
        stp     x19, x20, [x16, #SEEN]
        stp     x21, x22, [x16, #SEEN+16]
        stp     x23, x24, [x16, #SEEN+32]
        stp     x25, x26, [x16, #SEEN+48]
        stp     x27, x28, [x16, #SEEN+64]
        str     x29, [x16, #SEEN+80]
        str     x30, [x16, #SEEN_LINK]
        mov     x17, sp
        str     x17, [x16, #SEEN_STACK]
        mov     x0, #1
        ret
        .cfi_endproc
        .size   farcall_test_marked_target, . - farcall_test_marked_target

/* struct MarkedCall *farcall_test_marked_state(void) */
        .balign 16
        .globl  farcall_test_marked_state
        .type   farcall_test_marked_state, %function
farcall_test_marked_state:
        .cfi_startproc
        bti     c
        adrp    x0, marked_call
        add     x0, x0, :lo12:marked_call
        ret
        .cfi_endproc
        .size   farcall_test_marked_state, . - farcall_test_marked_state

        .bss
        .balign 16
marked_call:
        .space  SIZE

        .section .note.GNU-stack,"",%progbits
