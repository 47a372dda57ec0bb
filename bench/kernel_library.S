@ The string routines of a kernel's library, written as an ARMv4 kernel writes them:
@ memset storing 64 bytes a round with conditional stm, memcpy moving 32 bytes a round
@ through eight registers (words put together from two when the source is not
@ aligned), and copy_page alternating ldm and stm of four registers, unrolled. The
@ emulator benchmark and the tests of its loops run these same routines.

@ r0 destination, r1 byte, r2 count
memset:
    and     r1, r1, #0xFF
    ands    r3, r0, #3
    mov     ip, r0
    bne     6f
1:  orr     r1, r1, r1, lsl #8
    orr     r1, r1, r1, lsl #16
    mov     r3, r1
    cmp     r2, #16
    blt     4f
    stmfd   sp!, {r8, lr}
    mov     r8, r1
    mov     lr, r1
2:  subs    r2, r2, #64
    stmiage ip!, {r1, r3, r8, lr}
    stmiage ip!, {r1, r3, r8, lr}
    stmiage ip!, {r1, r3, r8, lr}
    stmiage ip!, {r1, r3, r8, lr}
    bgt     2b
    ldmfdeq sp!, {r8, pc}
    tst     r2, #32
    stmiane ip!, {r1, r3, r8, lr}
    stmiane ip!, {r1, r3, r8, lr}
    tst     r2, #16
    stmiane ip!, {r1, r3, r8, lr}
    ldmfd   sp!, {r8, lr}
4:  tst     r2, #8
    stmiane ip!, {r1, r3}
    tst     r2, #4
    strne   r1, [ip], #4
5:  tst     r2, #2
    strbne  r1, [ip], #1
    strbne  r1, [ip], #1
    tst     r2, #1
    strbne  r1, [ip], #1
    mov     pc, lr
6:  subs    r2, r2, #4
    blt     5b
    cmp     r3, #2
    strblt  r1, [ip], #1
    strble  r1, [ip], #1
    strb    r1, [ip], #1
    add     r2, r2, r3
    b       1b

@ r0 destination, r1 source, r2 count: the destination aligned a byte at a time, then
@ eight registers a round from an aligned source, or words put together from two
@ when the source is not aligned.
memcpy:
    stmfd   sp!, {r0, r4 - r10, lr}
    cmp     r2, #4
    blt     8f
    ands    ip, r0, #3
    beq     2f
    rsb     ip, ip, #4
    sub     r2, r2, ip
1:  ldrb    r3, [r1], #1
    subs    ip, ip, #1
    strb    r3, [r0], #1
    bne     1b
2:  ands    ip, r1, #3
    bne     10f
    subs    r2, r2, #32
    blt     5f
3:  ldmia   r1!, {r3 - r10}
    subs    r2, r2, #32
    stmia   r0!, {r3 - r10}
    bge     3b
5:  add     r2, r2, #32
    subs    r2, r2, #4
    blt     7f
6:  ldr     r3, [r1], #4
    subs    r2, r2, #4
    str     r3, [r0], #4
    bge     6b
7:  add     r2, r2, #4
8:  cmp     r2, #0
    ble     9f
81: ldrb    r3, [r1], #1
    subs    r2, r2, #1
    strb    r3, [r0], #1
    bgt     81b
9:  ldmfd   sp!, {r0, r4 - r10, pc}

    .macro  shifted_copy pull, push, back
    subs    r2, r2, #16
    blt     12f
11: mov     r3, lr, lsr #\pull
    ldmia   r1!, {r4, r5, r6, lr}
    orr     r3, r3, r4, lsl #\push
    mov     r4, r4, lsr #\pull
    orr     r4, r4, r5, lsl #\push
    mov     r5, r5, lsr #\pull
    orr     r5, r5, r6, lsl #\push
    mov     r6, r6, lsr #\pull
    orr     r6, r6, lr, lsl #\push
    subs    r2, r2, #16
    stmia   r0!, {r3, r4, r5, r6}
    bge     11b
12: add     r2, r2, #16
    subs    r2, r2, #4
    blt     14f
13: mov     r3, lr, lsr #\pull
    ldr     lr, [r1], #4
    orr     r3, r3, lr, lsl #\push
    subs    r2, r2, #4
    str     r3, [r0], #4
    bge     13b
14: add     r2, r2, #4
    sub     r1, r1, #\back
    b       8b
    .endm

10: bic     r1, r1, #3
    ldr     lr, [r1], #4
    cmp     ip, #2
    beq     20f
    bgt     30f
    shifted_copy 8, 24, 3
20: shifted_copy 16, 16, 2
30: shifted_copy 24, 8, 1

@ r0 destination page, r1 source page
copy_page:
    stmfd   sp!, {r4, lr}
    mov     r2, #4096 / 64
    ldmia   r1!, {r3, r4, ip, lr}
1:  stmia   r0!, {r3, r4, ip, lr}
    ldmia   r1!, {r3, r4, ip, lr}
    stmia   r0!, {r3, r4, ip, lr}
    ldmia   r1!, {r3, r4, ip, lr}
    stmia   r0!, {r3, r4, ip, lr}
    ldmia   r1!, {r3, r4, ip, lr}
    subs    r2, r2, #1
    stmia   r0!, {r3, r4, ip, lr}
    ldmiagt r1!, {r3, r4, ip, lr}
    bgt     1b
    ldmfd   sp!, {r4, pc}
