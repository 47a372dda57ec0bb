@ QemuStart: the first code QEMU runs. It leaves the machine as the emulated hand-over
@ starts it (the console UART as Windows CE left it, CP15 c1, the CPSR, r0-r3 and lr,
@ every other register zero) and falls into the flat-jump code placed behind it. The
@ words after QemuStartParameters are written for each run.

    .arm
    .syntax unified
    .text
    .global QemuStart
    .global QemuStartParameters
    .global QemuStartFlatJump
QemuStart:
    ldr     r0, uartBase
    ldr     r1, uartKind
    ldr     r2, uartDivisor
    cmp     r1, #0
    bne     1f
    @ SA-11x0 serial port: off while it is set up, 8N1, the divisor, then on.
    mov     r3, #0
    str     r3, [r0, #0x0C]             @ UTCR3
    mov     r3, #0x08                   @ UTCR0: 8 data bits, no parity, 1 stop bit
    str     r3, [r0, #0x00]
    mov     r3, r2, lsr #8
    str     r3, [r0, #0x04]             @ UTCR1: divisor, high bits
    and     r3, r2, #0xFF
    str     r3, [r0, #0x08]             @ UTCR2: divisor, low bits
    mvn     r3, #0
    str     r3, [r0, #0x1C]             @ UTSR0: sticky status cleared
    mov     r3, #0x03                   @ UTCR3: receiver and transmitter on
    str     r3, [r0, #0x0C]
    b       2f
1:  @ PXA-2x0 UART: the divisor under DLAB, 8N1, FIFOs on, the unit enabled.
    mov     r3, #0x83
    str     r3, [r0, #0x0C]             @ LCR: DLAB
    and     r3, r2, #0xFF
    str     r3, [r0, #0x00]             @ DLL
    mov     r3, r2, lsr #8
    str     r3, [r0, #0x04]             @ DLH
    mov     r3, #0x03
    str     r3, [r0, #0x0C]             @ LCR: 8N1
    mov     r3, #0x07
    str     r3, [r0, #0x08]             @ FCR: FIFOs on and emptied
    mov     r3, #0x40
    str     r3, [r0, #0x04]             @ IER: unit enabled, no interrupts
2:  ldr     r0, control
    mcr     p15, 0, r0, c1, c0, 0
    ldr     r0, cpsrValue
    msr     cpsr_fsxc, r0               @ the mode, the masks and the flags
    @ Nothing below sets the flags.
    ldr     r0, argument0
    ldr     r1, argument1
    ldr     r2, argument2
    ldr     r3, argument3
    mov     r4, #0
    mov     r5, #0
    mov     r6, #0
    mov     r7, #0
    mov     r8, #0
    mov     r9, #0
    mov     r10, #0
    mov     r11, #0
    mov     r12, #0
    mov     sp, #0
    ldr     lr, returnAddress
    b       QemuStartFlatJump

    .align  2
QemuStartParameters:
uartBase:       .word 0
uartKind:       .word 0                 @ 0 SA-11x0, 1 PXA-2x0
uartDivisor:    .word 0
control:        .word 0
cpsrValue:      .word 0
argument0:      .word 0
argument1:      .word 0
argument2:      .word 0
argument3:      .word 0
returnAddress:  .word 0
QemuStartFlatJump:
