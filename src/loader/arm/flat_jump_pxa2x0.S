@ FlatJump_pxa2x0: leaves Windows CE on the PXA-2x0 for the second-stage loader page.
@ r0 parameterPagePhys, r1 pageLinkPhys, r2 stackTop (handed on unchanged), r3 loaderPaddr.
@ Bit 0 of r3 set asks for the kernel to be entered in SVC mode (Linux's protocol):
@ Windows CE's kernel mode is System mode, and the loader runs the same in either.

    .arm
    .syntax unified
    .text
    .global FlatJump_pxa2x0
    .type   FlatJump_pxa2x0, %function
FlatJump_pxa2x0:
    mrs     ip, cpsr
    orr     ip, ip, #0xC0               @ IRQ and FIQ off
    msr     cpsr_c, ip
    tst     r3, #1
    bic     r3, r3, #1
    msrne   cpsr_c, #0xD3               @ SVC, IRQ and FIQ masked
    mov     ip, #0x2000                 @ control: everything off, 32-bit spaces, high vectors
    orr     ip, ip, #0x30
    mov     lr, #0                      @ never returns, so lr serves as the zero operand
    mcr     p15, 0, lr, c7, c7, 0       @ invalidate I and D caches
    mov     r0, r0                      @ drain the XScale pipeline
    sub     pc, pc, #4
    mcr     p15, 0, ip, c1, c0, 0
    mcr     p15, 0, lr, c8, c7, 0       @ invalidate I and D TLBs
    mov     r0, r0
    sub     pc, pc, #4
    mov     pc, r3
    .size   FlatJump_pxa2x0, . - FlatJump_pxa2x0
