@ A program whose every instruction count is checked against single-stepping: loops,
@ conditional stores, a copy of the second-stage loader's shape, calls and, when r1 is
@ not zero, Thumb code (a bl pair among it) and Thumb code run where ARM code ran
@ before. r0: 1 KB of scratch RAM. Position-independent; ends in a branch to itself.
    .syntax unified
    .arm
    .text
    .global count_start
count_start:
    mov     r12, r1
    mov     r8, r0
    add     sp, r0, #1024
    mov     r1, #5
1:  add     r2, r2, r1
    subs    r1, r1, #1
    bne     1b
    @ 256 bytes copied as the second-stage loader copies
    adr     r9, count_start
    mov     r10, r8
    mov     r11, #256 - 32
2:  ldmia   r9!, {r0-r7}
    stmia   r10!, {r0-r7}
    subs    r11, r11, #32
    bhs     2b
    @ a clear in 16-byte steps, its stores conditional
    mov     r0, #0x55
    mov     r1, r0
    mov     r2, #128
3:  subs    r2, r2, #16
    stmiage r10!, {r0, r1}
    stmiage r10!, {r0, r1}
    bgt     3b
    bl      leaf
    bl      shared
    cmp     r12, #0
    beq     done
    @ Thumb code copied over the ARM routine just run, then run at the same address
    adr     r0, thumb_template
    adr     r1, shared
    ldmia   r0, {r2, r3}
    stmia   r1, {r2, r3}
    adr     r0, shared + 1
    mov     lr, pc
    bx      r0
    adr     r0, thumb_code + 1
    mov     lr, pc
    bx      r0
done:
    b       done

leaf:
    add     r3, r3, #1
    mov     pc, lr

shared:
    mov     r5, #1
    mov     pc, lr

thumb_template:
    .thumb
    movs    r5, #2
    adds    r5, r5, #3
    bx      lr
    nop

    .balign 4
thumb_code:
    push    {r4, lr}
    movs    r6, #3
4:  bl      thumb_leaf
    subs    r6, r6, #1
    bne     4b
    pop     {r4}
    pop     {r1}
    bx      r1
thumb_leaf:
    adds    r7, r7, #1
    bx      lr
    .arm

@ A clear of 64 bytes at r0 of the second-stage loader's shape, made with the
@ processor set big-endian (the CP15 B bit).
    .global big_endian_clear
big_endian_clear:
    mrc     p15, 0, r3, c1, c0, 0
    orr     r3, r3, #0x80
    mcr     p15, 0, r3, c1, c0, 0
    ldr     r1, =0x11223344
    ldr     r2, =0x55667788
    mov     r4, #64 - 8
5:  stmia   r0!, {r1, r2}
    subs    r4, r4, #8
    bhs     5b
6:  b       6b
    .ltorg
