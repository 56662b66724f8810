/* Targets that report machine state at their entry, which C cannot see
 * (64-bit PowerPC little-endian, ELFv2). */

        .abiversion 2
        .text

/* reg = the address of marked_call, from the current address rather than
 * the TOC pointer, which the code under test may have left wrong; r0 is
 * clobbered, lr kept. */
.macro marked_call_address reg
        mflr    %r0
        bcl     20, 31, .Lhere\@
.Lhere\@:
        mflr    \reg
        mtlr    %r0
        addis   \reg, \reg, (marked_call - .Lhere\@)@ha
        addi    \reg, \reg, (marked_call - .Lhere\@)@l
.endm

/* int64_t farcall_test_entry_stack(void): r1 at entry. */
        .balign 16
        .globl  farcall_test_entry_stack
        .type   farcall_test_entry_stack, @function
farcall_test_entry_stack:
        .cfi_startproc
        mr      %r3, %r1
        blr
        .cfi_endproc
        .size   farcall_test_entry_stack, . - farcall_test_entry_stack

/* A marked call (struct MarkedCall in targets.h, offsets below):
 *
 * farcall_test_marked_call is called with the arguments of a trampoline
 * entry, whose address is in `entry`. It keeps the caller's r14..r31,
 * f14..f31, cr, lr and r2 in `saved`, loads `marks` into r14..r31, f14..f31
 * and the fields cr2..cr4, notes its r1 and the address its call returns to,
 * and calls the entry as the virtual machine does (r12 and ctr holding its
 * address), with r3..r10 and the parameter save area untouched: for the
 * entry, it is the caller. Then it restores the registers and returns the
 * entry's result.
 *
 * farcall_test_marked_target, called through the entry, records r14..r31,
 * f14..f31, cr, lr, r1 and r12 as it finds them. A trampoline that keeps a
 * frame, calls instead of branching, uses a non-volatile register or does
 * not enter the target with its address in r12 shows there. */
        .set    ENTRY, 0
        .set    MARKS, 8
        .set    FLOAT_MARKS, 152
        .set    CONDITION_MARKS, 296
        .set    SEEN, 304
        .set    FLOAT_SEEN, 448
        .set    CONDITION_SEEN, 592
        .set    SEEN_LINK, 600
        .set    SEEN_STACK, 608
        .set    SEEN_ENTRY, 616
        .set    CALL_STACK, 624
        .set    CALL_LINK, 632
        .set    SAVED, 640
        .set    FLOAT_SAVED, 784
        .set    SAVED_CONDITION, 928
        .set    SAVED_LINK, 936
        .set    SAVED_TOC, 944
        .set    SIZE, 952
        /* mtcrf field mask of cr2, cr3 and cr4 */
        .set    SAVED_FIELDS, 0x38

        .balign 16
        .globl  farcall_test_marked_call
        .type   farcall_test_marked_call, @function
farcall_test_marked_call:
        .cfi_startproc
        marked_call_address %r11
        mflr    %r0
        std     %r0, SAVED_LINK(%r11)
        mfcr    %r0
        std     %r0, SAVED_CONDITION(%r11)
        std     %r2, SAVED_TOC(%r11)
        .irp    r, 14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31
        std     \r, SAVED+8*(\r-14)(%r11)
        ld      \r, MARKS+8*(\r-14)(%r11)
        stfd    \r, FLOAT_SAVED+8*(\r-14)(%r11)
        lfd     \r, FLOAT_MARKS+8*(\r-14)(%r11)
        .endr
        ld      %r0, CONDITION_MARKS(%r11)
        mtcrf   SAVED_FIELDS, %r0
        std     %r1, CALL_STACK(%r11)
        bcl     20, 31, .Lcall_site
.Lcall_site:
        mflr    %r12
        addi    %r12, %r12, .Lreturn - .Lcall_site
        std     %r12, CALL_LINK(%r11)
        ld      %r12, ENTRY(%r11)
        mtctr   %r12
        bctrl
.Lreturn:
        marked_call_address %r11
        .irp    r, 14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31
        ld      \r, SAVED+8*(\r-14)(%r11)
        lfd     \r, FLOAT_SAVED+8*(\r-14)(%r11)
        .endr
        ld      %r0, SAVED_CONDITION(%r11)
        mtcrf   SAVED_FIELDS, %r0
        ld      %r2, SAVED_TOC(%r11)
        ld      %r0, SAVED_LINK(%r11)
        mtlr    %r0
        blr
        .cfi_endproc
        .size   farcall_test_marked_call, . - farcall_test_marked_call

        .balign 16
        .globl  farcall_test_marked_target
        .type   farcall_test_marked_target, @function
farcall_test_marked_target:
        .cfi_startproc
        marked_call_address %r11
        std     %r12, SEEN_ENTRY(%r11)
        mflr    %r0
        std     %r0, SEEN_LINK(%r11)
        std     %r1, SEEN_STACK(%r11)
        mfcr    %r0
        std     %r0, CONDITION_SEEN(%r11)
        .irp    r, 14,15,16,17,18,19,20,21,22,23,24,25,26,27,28,29,30,31
        std     \r, SEEN+8*(\r-14)(%r11)
        stfd    \r, FLOAT_SEEN+8*(\r-14)(%r11)
        .endr
        li      %r3, 1
        blr
        .cfi_endproc
        .size   farcall_test_marked_target, . - farcall_test_marked_target

/* struct MarkedCall *farcall_test_marked_state(void) */
        .balign 16
        .globl  farcall_test_marked_state
        .type   farcall_test_marked_state, @function
farcall_test_marked_state:
        .cfi_startproc
        marked_call_address %r3
        blr
        .cfi_endproc
        .size   farcall_test_marked_state, . - farcall_test_marked_state

        .bss
        .balign 16
marked_call:
        .space  SIZE

        .section .note.GNU-stack,"",@progbits
