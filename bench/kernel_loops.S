@ The loops a kernel's start-up spends its time in, written as an ARMv4 kernel's
@ library writes them: a memset that stores 64 bytes a round with conditional
@ stm, a memcpy that moves 32 bytes a round through eight registers, and a
@ copy_page that alternates ldm and stm of four registers, unrolled. The driver
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

@ r0 destination (word aligned), r1 byte, r2 count (a multiple of 4)
memset:
    and     r1, r1, #0xFF
    orr     r1, r1, r1, lsl #8
    orr     r1, r1, r1, lsl #16
    stmfd   sp!, {r4, lr}
    mov     r3, r1
    mov     r4, r1
    mov     lr, r1
3:  subs    r2, r2, #64
    stmiage r0!, {r1, r3, r4, lr}
    stmiage r0!, {r1, r3, r4, lr}
    stmiage r0!, {r1, r3, r4, lr}
    stmiage r0!, {r1, r3, r4, lr}
    bgt     3b
    ldmfdeq sp!, {r4, pc}
    tst     r2, #32
    stmiane r0!, {r1, r3, r4, lr}
    stmiane r0!, {r1, r3, r4, lr}
    tst     r2, #16
    stmiane r0!, {r1, r3, r4, lr}
4:  tst     r2, #4
    strne   r1, [r0], #4
    ldmfd   sp!, {r4, pc}

@ r0 destination, r1 source (both word aligned), r2 count (a multiple of 4)
memcpy:
    stmfd   sp!, {r0, r4-r8, lr}
    subs    r2, r2, #32
    blt     6f
5:  ldmia   r1!, {r3-r8, r12, lr}
    subs    r2, r2, #32
    stmia   r0!, {r3-r8, r12, lr}
    bge     5b
6:  adds    r2, r2, #32
    beq     8f
7:  ldr     r3, [r1], #4
    subs    r2, r2, #4
    str     r3, [r0], #4
    bgt     7b
8:  ldmfd   sp!, {r0, r4-r8, pc}

@ r0 destination page, r1 source page
copy_page:
    stmfd   sp!, {r4, lr}
    mov     r2, #4096 / 64
    ldmia   r1!, {r3, r4, r12, lr}
9:  stmia   r0!, {r3, r4, r12, lr}
    ldmia   r1!, {r3, r4, r12, lr}
    stmia   r0!, {r3, r4, r12, lr}
    ldmia   r1!, {r3, r4, r12, lr}
    stmia   r0!, {r3, r4, r12, lr}
    ldmia   r1!, {r3, r4, r12, lr}
    subs    r2, r2, #1
    stmia   r0!, {r3, r4, r12, lr}
    ldmiagt r1!, {r3, r4, r12, lr}
    bgt     9b
    ldmfd   sp!, {r4, pc}

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
