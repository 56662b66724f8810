/* Targets that report machine state at their entry, which C cannot see. */

        .text

/* int64_t farcall_test_entry_rax(void): %rax as the caller left it. */
        .balign 16
        .globl  farcall_test_entry_rax
        .type   farcall_test_entry_rax, @function
farcall_test_entry_rax:
        .cfi_startproc
        ret
        .cfi_endproc
        .size   farcall_test_entry_rax, . - farcall_test_entry_rax

/* int64_t farcall_test_entry_stack(void): %rsp at entry. */
        .balign 16
        .globl  farcall_test_entry_stack
        .type   farcall_test_entry_stack, @function
farcall_test_entry_stack:
        .cfi_startproc
        movq    %rsp, %rax
        ret
        .cfi_endproc
        .size   farcall_test_entry_stack, . - farcall_test_entry_stack

        .section .note.GNU-stack,"",@progbits
