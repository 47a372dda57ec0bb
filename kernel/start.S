@ Entry of the sample kernel: r0 argc, r1 argv and r2 BootInfo (physical addresses),
@ sp set by the second-stage loader. The MMU is off and interrupts are masked.

    .file   "start.S"
    .arm
    .syntax unified
    .section .text.start, "ax"
    .global _start
    .type   _start, %function
_start:
    mov     r3, sp
    bl      kernel_main
1:  b       1b                          @ halt: there is nothing to return to
    .size   _start, . - _start

@ Link-time addresses, as plain numbers, to compare with the symbol table and with
@ where the kernel actually runs. The only absolute addresses in the kernel.
    .section .rodata.linked, "a"
    .global linked_addresses
    .hidden linked_addresses
    .balign 4
linked_addresses:
    .word   _start
    .word   kernel_main
    .word   __bss_start
