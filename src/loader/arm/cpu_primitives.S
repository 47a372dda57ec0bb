@ The privileged CPU primitives the architecture and the software MMU call in kernel
@ mode: CPSR and CP15 access and the data-cache clean by reading a spare area.

    .arm
    .syntax unified

#define DCACHE_FLUSH_AREA_BYTES 65536

    .macro  leaf name
    .global \name
    .type   \name, %function
\name:
    .endm

    .text
leaf readCpsr
    mrs     r0, cpsr
    mov     pc, lr

leaf maskInterrupts
    mrs     r0, cpsr
    orr     r0, r0, #0xC0
    msr     cpsr_fc, r0
    mov     pc, lr

leaf unmaskInterrupts
    mrs     r0, cpsr
    bic     r0, r0, #0xC0
    msr     cpsr_fc, r0
    mov     pc, lr

    .macro  readCp15 n
leaf readCp15c\n
    mrc     p15, 0, r0, c\n, c0, 0
    mov     pc, lr
    .endm
    readCp15 0
    readCp15 1
    readCp15 2
    readCp15 3
    readCp15 5
    readCp15 6
    readCp15 13
    readCp15 14

leaf writeCp15c3
    mcr     p15, 0, r0, c3, c0, 0
    mov     pc, lr

@ One word every 32-byte line replaces every D-cache line, writing dirty ones back.
@ The count never goes past the area, whatever dcacheFlushSize holds.
leaf cleanDataCache
    ldr     r1, .LflushArea
    ldr     r2, .LflushSize
    ldr     r2, [r2]
    cmp     r2, #DCACHE_FLUSH_AREA_BYTES
    movhi   r2, #DCACHE_FLUSH_AREA_BYTES
    add     r2, r1, r2
1:  cmp     r1, r2
    ldrlo   r3, [r1], #32
    blo     1b
    mov     pc, lr
.LflushArea:
    .word   dcacheFlushArea
.LflushSize:
    .word   dcacheFlushSize

    .data
    .global dcacheFlushSize
    .balign 4
dcacheFlushSize:
    .word   8192

    .bss
    .global dcacheFlushArea
    .balign 32
dcacheFlushArea:
    .space  DCACHE_FLUSH_AREA_BYTES
