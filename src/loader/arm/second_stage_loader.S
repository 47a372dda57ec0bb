@ The second-stage loader image, assembled once per CPU: position-independent code
@ that the architecture copies to one physical page and enters with the MMU off
@ (r0 parameterPagePhys, r1 pageLinkPhys, r2 stackTop). It performs the PageLink
@ list, sets a stack above the last data placed and enters the kernel with argc,
@ argv and the BootInfo address. The PXA-2x0 image folds every destination and the
@ entry into the first 16 MB of SDRAM. Behind the loader sit the debug aids.

#if defined(CPU_PXA2X0)
#define IMAGE       SecondStageLoader_pxa2x0
#define IMAGE_SIZE  SecondStageLoader_pxa2x0_size
#define IMAGE_BYTES 392
#else
#define IMAGE       SecondStageLoader_sa11x0
#define IMAGE_SIZE  SecondStageLoader_sa11x0_size
#define IMAGE_BYTES 424
#endif

    .arm
    .syntax unified
    .text
    .global IMAGE
    .type   IMAGE, %function
IMAGE:
    mov     r0, r0
    mov     r0, r0
    mov     r0, r0
    mov     sp, r2
    bl      performLinks
1:  b       1b                          @ a kernel that returns spins here

@ r0 KernelCallRecord, r1 first link. Touches nothing but the list, the sources and
@ the destinations; the stack is not used before the kernel runs, and nothing returns
@ here, so every other register (lr too) carries data.
performLinks:
    mov     r4, r0
    mov     r5, r1
nextLink:
    ldmia   r5, {r6-r9}                 @ next, src, dst, size
#if defined(CPU_PXA2X0)
    bic     r8, r8, #0xFF000000         @ into the first 16 MB of SDRAM
    orr     r8, r8, #0xA0000000
#endif
    add     r9, r8, r9                  @ end
    sub     r5, r9, r8                  @ bytes to go (r5 is free until the next link);
                                        @ an empty entry stores nothing
    cmn     r7, #1
    bne     copy
    mov     r0, #0
    mov     r1, #0
    mov     r2, #0
    mov     r3, #0
    subs    r5, r5, #16
    blo     clearWords
clearBlocks:                            @ four words a round while as many are to go
    stmia   r8!, {r0-r3}
    subs    r5, r5, #16
    bhs     clearBlocks
clearWords:
    adds    r5, r5, #16
    beq     linkDone
clearWord:                              @ whole words: the last may reach past the end
    str     r0, [r8], #4
    subs    r5, r5, #4
    bhi     clearWord
    b       linkDone
copy:
    subs    r5, r5, #32
    blo     copyWords
copyBlocks:                             @ eight words a round while as many are to go
    ldmia   r7!, {r0-r3, r10-r12, lr}
    stmia   r8!, {r0-r3, r10-r12, lr}
    subs    r5, r5, #32
    bhs     copyBlocks
copyWords:
    adds    r5, r5, #32
    beq     linkDone
copyWord:                               @ whole words: the last may reach past the end
    ldr     r10, [r7], #4
    str     r10, [r8], #4
    subs    r5, r5, #4
    bhi     copyWord
linkDone:
    mov     r5, r6
    cmn     r5, #1
    bne     nextLink

    add     sp, r9, #0x2000             @ stack above the last data, page aligned
    mov     sp, sp, lsr #12
    mov     sp, sp, lsl #12
    ldr     ip, [r4]                    @ KernelCallRecord: entry, argc, argv, BootInfo
    ldr     r0, [r4, #4]
    ldr     r1, [r4, #8]
    ldr     r2, [r4, #12]
#if defined(CPU_PXA2X0)
    bic     ip, ip, #0xFF000000
    orr     ip, ip, #0xA0000000
#endif
    mov     pc, ip
    .size   IMAGE, . - IMAGE

@ Debug aids for the hand-over with the MMU off; nothing above calls them.

#if defined(CPU_PXA2X0)
    .macro  uartBase reg
    mov     \reg, #0x40000000           @ full-function UART
    orr     \reg, \reg, #0x100000
    .endm
    .macro  putc reg                    @ r1 UART, r2 scratch
1:  ldr     r2, [r1, #0x14]             @ LSR: wait for TDRQ
    tst     r2, #0x20
    beq     1b
    str     \reg, [r1]                  @ THR
    .endm
#define DEBUG_PUTC DebugPutc_pxa2x0
#define DEBUG_HEX  DebugHex_pxa2x0
#else
    .macro  uartBase reg
    mov     \reg, #0x80000000           @ serial port 3
    orr     \reg, \reg, #0x50000
    .endm
    .macro  putc reg                    @ r1 UART, r2 scratch
1:  ldr     r2, [r1, #0x20]             @ UTSR1: wait while TBY
    tst     r2, #1
    bne     1b
    str     \reg, [r1, #0x14]           @ UTDR
    .endm
#define DEBUG_PUTC DebugPutc_sa11x0
#define DEBUG_HEX  DebugHex_sa11x0

@ FramebufferTestFill(n): 8 x 38400 bytes from 0xC0003000 set to n AND 7; returns n + 8.
    .global FramebufferTestFill
    .type   FramebufferTestFill, %function
FramebufferTestFill:
    and     r1, r0, #7
    orr     r1, r1, r1, lsl #8
    orr     r1, r1, r1, lsl #16
    mov     r2, #0xC0000000
    orr     r2, r2, #0x3000
    add     r3, r2, #0x4B000            @ 8 x 38400
1:  str     r1, [r2], #4
    cmp     r2, r3
    blo     1b
    add     r0, r0, #8
    mov     pc, lr
    .size   FramebufferTestFill, . - FramebufferTestFill
#endif

@ DebugPutc(c): one character to the UART.
    .global DEBUG_PUTC
    .type   DEBUG_PUTC, %function
DEBUG_PUTC:
    uartBase r1
    putc    r0
    mov     pc, lr
    .size   DEBUG_PUTC, . - DEBUG_PUTC

@ DebugHex(v): "0x", eight hex digits, CR LF.
    .global DEBUG_HEX
    .type   DEBUG_HEX, %function
DEBUG_HEX:
    uartBase r1
    mov     r3, #'0'
    putc    r3
    mov     r3, #'x'
    putc    r3
    mov     ip, #8
2:  mov     r3, r0, lsr #28
    cmp     r3, #10
    addlo   r3, r3, #'0'
    addhs   r3, r3, #'A' - 10
    putc    r3
    mov     r0, r0, lsl #4
    subs    ip, ip, #1
    bne     2b
    mov     r3, #13
    putc    r3
    mov     r3, #10
    putc    r3
    mov     pc, lr
    .size   DEBUG_HEX, . - DEBUG_HEX

    @ The image has the size the architecture reports; the assembler refuses if the
    @ code outgrows it.
    .org    IMAGE_BYTES

    .section .rodata
    .global IMAGE_SIZE
    .balign 4
IMAGE_SIZE:
    .word   IMAGE_BYTES
