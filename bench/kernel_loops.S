@ The loops a kernel's start-up spends its time in (kernel_library.S): the driver
@ clears 1 MB, copies it, copies its 256 pages one by one, and halts.
@ r0: a 4 MB work area, r1 not zero: with the MMU on (the area and this code
@ mapped one to one by 1 MB sections, the table at the area's last 16 KB).
    .syntax unified
    .arm
    .text
    .global loops_start
loops_start:
    mov     r11, r0
    add     sp, r0, #0x380000
    cmp     r1, #0
    beq     1f
    bl      mmu_on
1:  mov     r0, r11
    mov     r1, #0x5A
    mov     r2, #0x100000
    bl      memset
    add     r0, r11, #0x100000
    mov     r1, r11
    mov     r2, #0x100000
    bl      memcpy
    mov     r10, #256
    add     r9, r11, #0x200000
    add     r8, r11, #0x100000
2:  mov     r0, r9
    mov     r1, r8
    bl      copy_page
    add     r9, r9, #4096
    add     r8, r8, #4096
    subs    r10, r10, #1
    bne     2b
done:
    b       done

#include "kernel_library.S"

@ One-to-one sections over the area (and the code, which lies below it in the same
@ 64 MB), the table in the area's last 16 KB, domain 0 a client, then the MMU on.
mmu_on:
    add     r0, r11, #0x3F0000
    bic     r0, r0, #0x3FC0
    bic     r0, r0, #0x3F
    mov     r2, r11, lsr #20
    sub     r2, r2, #32
    mov     r3, #64
    ldr     r4, =0xC1E
10: orr     r5, r4, r2, lsl #20
    str     r5, [r0, r2, lsl #2]
    add     r2, r2, #1
    subs    r3, r3, #1
    bne     10b
    mcr     p15, 0, r0, c2, c0, 0
    mov     r5, #1
    mcr     p15, 0, r5, c3, c0, 0
    mrc     p15, 0, r5, c1, c0, 0
    orr     r5, r5, #1
    mcr     p15, 0, r5, c1, c0, 0
    mov     pc, lr
    .ltorg
