@ Entry and exception vectors of the whole-machine test kernel. Entered as the sample
@ kernel is (r0 argc, r1 argv, r2 BootInfo, MMU off, interrupts masked); the vectors
@ are copied to the high vector page once the MMU maps it.

    .arm
    .syntax unified
    .section .text.start, "ax"
    .global _start
_start:
    msr     cpsr_c, #0xD2               @ IRQ mode, masked: its own stack
    ldr     sp, =irq_stack_top
    msr     cpsr_c, #0xD3               @ SVC mode, masked: the kernel runs here
    ldr     sp, =svc_stack_top
    bl      kernel_main
1:  b       1b                          @ halt

    .text
    .global vectors_start
    .global vectors_end
vectors_start:
    ldr     pc, reset_at
    ldr     pc, undefined_at
    ldr     pc, swi_at
    ldr     pc, prefetch_at
    ldr     pc, abort_at
    nop
    ldr     pc, irq_at
    ldr     pc, fiq_at
reset_at:       .word _start
undefined_at:   .word stray
swi_at:         .word swi_entry
prefetch_at:    .word stray
abort_at:       .word stray
irq_at:         .word irq_entry
fiq_at:         .word stray
vectors_end:

swi_entry:
    stmfd   sp!, {r0-r3, r12, lr}
    ldr     r0, [lr, #-4]
    bic     r0, r0, #0xFF000000         @ the SWI's number
    bl      on_swi
    ldmfd   sp!, {r0-r3, r12, pc}^

irq_entry:
    sub     lr, lr, #4
    stmfd   sp!, {r0-r3, r12, lr}
    bl      on_irq
    ldmfd   sp!, {r0-r3, r12, pc}^

stray:
    mrs     r0, cpsr
    bl      on_stray
2:  b       2b

    .bss
    .balign 8
    .space  2048
irq_stack_top:
    .space  8192
svc_stack_top:
