/* A library exporting one function under COUNT names, farcall_many_FIRST up
   to farcall_many_<FIRST + COUNT - 1> in decimal, for the registry's tests
   and benchmark. The names are made by the assembler, as aliases of one
   body: a hundred thousand of them build in half a second, where as many
   compiled functions take a minute. */
#ifndef FIRST
#error "FIRST, the number of the first name, is not defined"
#endif
#ifndef COUNT
#error "COUNT, the number of names, is not defined"
#endif

#define FARCALL_TEXT(x) #x
#define FARCALL_NUMBER(x) FARCALL_TEXT(x)

long farcall_many_body(void) { return FIRST; }

__asm__(
    "        .altmacro\n"
    "        .macro farcall_many_name number\n"
    "        .globl farcall_many_\\number\n"
    "        .type farcall_many_\\number, %function\n"
    "        .set farcall_many_\\number, farcall_many_body\n"
    "        .endm\n"
    "        .set farcall_many_next, " FARCALL_NUMBER(FIRST) "\n"
    "        .rept " FARCALL_NUMBER(COUNT) "\n"
    "        farcall_many_name %farcall_many_next\n"
    "        .set farcall_many_next, farcall_many_next + 1\n"
    "        .endr\n"
    "        .noaltmacro\n");
