@ Loops of the shapes a kernel's start-up runs, written as an ARMv4 kernel's library
@ writes them, each run by the emulator with its shortcuts and compared with the
@ emulator's engine stepping the same code.
@ shapes_start: r0 a 4 MB work area, r1 not zero: with the MMU on (the area and this
@ code mapped one to one by 1 MB sections, except the area's third megabyte: small
@ pages showing its second), r2 the case to run, r3 its variant. Halts at
@ shapes_done.
    .syntax unified
    .arm
    .text

    .global shapes_start
shapes_start:
    mov     r11, r0
    mov     r10, r1
    mov     r8, r2
    mov     r9, r3
    add     sp, r0, #0x380000
    cmp     r1, #0
    beq     1f
    bl      mmu_on
1:  mov     r0, r11
    mov     r1, r10
    mov     r3, r9
    mov     lr, pc
    mov     pc, r8
    .global shapes_done
shapes_done:
    b       shapes_done

@ Each case: r0 the area, r1 the MMU flag, r3 the variant; returns to lr.

@ memset(area + offset, 0xA5, count), from the variant's pair.
    .global case_memset
case_memset:
    adr     r2, memset_variants
    add     r2, r2, r3, lsl #3
    ldmia   r2, {r2, r3}
    add     r0, r0, #0x1000
    add     r0, r0, r2
    mov     r2, r3
    mov     r1, #0xA5
    b       memset
memset_variants:
    .word   0, 0x10000
    .word   1, 4093
    .word   3, 13
    .word   2, 0x2345
    .word   0xFF8, 0x1234

@ memcpy(destination, source, count): the destination in the area's second megabyte,
@ the source in its first, their offsets and the count from the variant; with the
@ MMU on and the variant's last word set, the destination is reached through the
@ third megabyte's small pages.
    .global case_memcpy
case_memcpy:
    stmfd   sp!, {r4, r5, lr}
    mov     r5, r1
    adr     r2, memcpy_variants
    add     r2, r2, r3, lsl #4
    ldmia   r2, {r2, r3, r4, ip}
    add     r1, r0, r3
    cmp     r5, #0
    cmpne   ip, #0
    addeq   r0, r0, #0x100000
    addne   r0, r0, #0x200000
    add     r0, r0, r2
    mov     r2, r4
    bl      memcpy
    ldmfd   sp!, {r4, r5, pc}
memcpy_variants:
    @ destination offset, source offset, count, through the alias
    .word   0, 0x1000, 0x20000, 0
    .word   0x10, 0x1001, 0x8003, 0
    .word   0x20, 0x1002, 0x4002, 0
    .word   0x30, 0x1003, 0x4001, 0
    .word   0x43, 0x1001, 0x3000, 0
    .word   0xFF4, 0x1000, 0x3000, 0
    .word   0x0, 0x1000, 0x20000, 1
    .word   0x7, 0x1002, 0x9001, 1
    .word   0x3, 0x0, 2, 0

@ memcpy over itself forward by 8 bytes: rounds load what rounds before stored.
    .global case_overlap
case_overlap:
    add     r1, r0, #0x1000
    add     r0, r1, #8
    mov     r2, #0x4000
    b       memcpy

@ copy_page for 16 pages, one after the other.
    .global case_copy_page
case_copy_page:
    stmfd   sp!, {r4 - r6, lr}
    add     r5, r0, #0x200000
    add     r6, r0, #0x10000
    mov     r4, #16
1:  mov     r0, r5
    mov     r1, r6
    bl      copy_page
    add     r5, r5, #4096
    add     r6, r6, #4096
    subs    r4, r4, #1
    bne     1b
    ldmfd   sp!, {r4 - r6, pc}

@ A bss clear as older kernels' start-up wrote it: compare, store if below.
    .global case_clear
case_clear:
    add     r6, r0, #0x2000
    add     r6, r6, r3, lsl #2
    add     r7, r6, #0x9000
    mov     fp, #0
1:  cmp     r6, r7
    strcc   fp, [r6], #4
    bcc     1b
    mov     pc, lr

@ A decompressor moving itself down, eight registers at a time from the end.
    .global case_relocate
case_relocate:
    stmfd   sp!, {r4 - r11, lr}
    add     r5, r0, #0x10000
    add     r6, r0, #0x30000
    add     r9, r0, #0x140000
1:  ldmdb   r6!, {r0 - r3, r10 - r12, lr}
    cmp     r6, r5
    stmdb   r9!, {r0 - r3, r10 - r12, lr}
    bhi     1b
    ldmfd   sp!, {r4 - r11, pc}

@ A checksum of every kind of operand and flag the loops perform.
    .global case_checksum
case_checksum:
    stmfd   sp!, {r4 - r11, lr}
    add     r1, r0, #0x1000
    add     r10, r0, #0x200000
    add     r11, r0, #0x210000
    add     r10, r10, r3
    mov     r2, #0x1000
    mov     r4, #0
    mov     r5, #0
    mov     r6, #0
    mov     r7, #0
    mov     r8, #0
    mov     r9, #0
1:  ldr     r3, [r1], #4
    adds    r4, r4, r3
    adc     r5, r5, #0
    eor     r6, r6, r3, ror #7
    movs    r7, r3, rrx
    sbcs    r8, r8, r3, asr #32
    rscs    r9, r3, r8, lsr #32
    bic     r9, r9, r7, lsl #3
    teq     r9, r6
    addmi   r4, r4, #1
    cmn     r3, r5
    orrvs   r6, r6, #0xC0000003
    rsb     r0, r6, r4, asr #3
    tst     r0, #0xFF000000
    mvneq   r0, r0
    sbc     r12, r0, r9, lsl #31
    str     r4, [r10], #4
    strb    r9, [r11, #3]
    and     r0, r7, #0xC
    str     r12, [r11, r0]!
    add     r11, r11, #16
    ldrb    r0, [r1, #-3]
    add     r5, r5, r0, lsl #1
    subs    r2, r2, #1
    bne     1b
    ldmfd   sp!, {r4 - r11, pc}

@ A running sum in place: each round loads the word it has just stored.
    .global case_running_sum
case_running_sum:
    add     r0, r0, #0x1000
    mov     r2, #0x800
    ldr     r4, [r0]
    mov     r6, #0
1:  ldr     r3, [r0, #4]!
    add     r4, r4, r3
    str     r4, [r0]
    ldr     r5, [r0]
    eor     r6, r6, r5
    subs    r2, r2, #1
    bne     1b
    mov     pc, lr

@ A copy and a copy_page that preload their source, as an ARMv5 kernel's do (the
@ XScale has pld; to the StrongARM it is undefined).
    .arch   armv5te
    .global case_preload_copy
case_preload_copy:
    stmfd   sp!, {r4 - r10, lr}
    add     r1, r0, #0x1000
    add     r0, r0, #0x100000
    mov     r2, #0x10000
    pld     [r1, #0]
    subs    r2, r2, #32
1:  pld     [r1, #124]
    ldmia   r1!, {r3 - r10}
    subs    r2, r2, #32
    stmia   r0!, {r3 - r10}
    bge     1b
    ldmfd   sp!, {r4 - r10, pc}

    .global case_preload_page
case_preload_page:
    stmfd   sp!, {r4, lr}
    add     r1, r0, #0x10000
    add     r0, r0, #0x200000
    pld     [r1, #0]
    pld     [r1, #32]
    mov     r2, #4096 / 64 - 1
    ldmia   r1!, {r3, r4, ip, lr}
1:  pld     [r1, #64]
    pld     [r1, #96]
2:  stmia   r0!, {r3, r4, ip, lr}
    ldmia   r1!, {r3, r4, ip, lr}
    stmia   r0!, {r3, r4, ip, lr}
    ldmia   r1!, {r3, r4, ip, lr}
    stmia   r0!, {r3, r4, ip, lr}
    ldmia   r1!, {r3, r4, ip, lr}
    subs    r2, r2, #1
    stmia   r0!, {r3, r4, ip, lr}
    ldmiagt r1!, {r3, r4, ip, lr}
    bgt     1b
    ldmiaeq r1!, {r3, r4, ip, lr}
    beq     2b
    ldmfd   sp!, {r4, pc}
    .arch   armv4

#include "kernel_library.S"

@ One-to-one sections over 64 MB around the area, the table in the area's last 16 KB,
@ a coarse table below it mapping the area's third megabyte onto its second in small
@ pages, domain 0 a client, then the MMU on.
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
    sub     r6, r0, #0x400
    orr     r5, r6, #0x11
    add     r7, r11, #0x200000
    mov     r7, r7, lsr #20
    str     r5, [r0, r7, lsl #2]
    add     r5, r11, #0x100000
    ldr     r4, =0xFF2
    orr     r5, r5, r4
    mov     r3, #256
11: str     r5, [r6], #4
    add     r5, r5, #4096
    subs    r3, r3, #1
    bne     11b
    mcr     p15, 0, r0, c2, c0, 0
    mov     r5, #1
    mcr     p15, 0, r5, c3, c0, 0
    mrc     p15, 0, r5, c1, c0, 0
    orr     r5, r5, #1
    mcr     p15, 0, r5, c1, c0, 0
    mov     pc, lr
    .ltorg
