@ FlatJump_sa11x0: leaves Windows CE on the SA-11x0 for the second-stage loader page.
@ r0 parameterPagePhys, r1 pageLinkPhys, r2 stackTop (handed on unchanged), r3 loaderPaddr.
@ Bit 0 of r3 set asks for the kernel to be entered in SVC mode (Linux's protocol):
@ Windows CE's kernel mode is System mode, and the loader runs the same in either.

    .arm
    .syntax unified
    .text
    .global FlatJump_sa11x0
    .type   FlatJump_sa11x0, %function
FlatJump_sa11x0:
    mrs     ip, cpsr
    orr     ip, ip, #0xC0               @ IRQ and FIQ off
    msr     cpsr_c, ip
    tst     r3, #1
    bic     r3, r3, #1
    msrne   cpsr_c, #0xD3               @ SVC, IRQ and FIQ masked
    mov     ip, #0x2000                 @ control: everything off, 32-bit spaces, high vectors
    orr     ip, ip, #0x30
    mov     lr, #0                      @ never returns, so lr serves as the zero operand
    @ From here on the instructions run back to back: once the MMU is off only the
    @ already fetched ones are trustworthy.
    mcr     p15, 0, ip, c1, c0, 0
    mcr     p15, 0, lr, c7, c7, 0       @ invalidate I and D caches
    mcr     p15, 0, lr, c8, c7, 0       @ invalidate I and D TLBs
    mov     pc, r3
    .size   FlatJump_sa11x0, . - FlatJump_sa11x0
