@ Entry of the Linux-protocol test kernel: laid out like the start of a zImage (its
@ magic word at 0x24 when built with ZIMAGE), entered with r0 = 0, r1 = the machine
@ number, r2 = the tag list. It keeps the processor state it was entered in for the
@ checks and runs on a stack inside its own image: a raw binary has no bss that
@ anyone clears.

    .file   "start.S"
    .set    STACK_SIZE, 4096
    .arm
    .syntax unified
    .section .text.start, "ax"
    .global _start
    .type   _start, %function
_start:
    b       entered
    .rept   8
    mov     r0, r0
    .endr
#ifdef ZIMAGE
    .word   0x016F2818                  @ a zImage's magic word, at offset 0x24
    .word   0                           @ start and end addresses: not used
    .word   0
    .word   0x04030201                  @ endianness mark
    .word   0x45454545                  @ a table of sizes follows, at:
    .word   size_table - _start
#else
    .rept   6
    .word   0
    .endr
#endif
entered:
    mrs     r3, cpsr
    mrc     p15, 0, r4, c1, c0, 0       @ control: MMU and caches
    adr     sp, stack_bottom
    add     sp, sp, #STACK_SIZE
    str     r4, [sp, #-4]!
    bl      kernel_main
1:  b       1b                          @ halt
    .size   _start, . - _start

@ As a zImage's: the kernel it would inflate to (3 MB, the size word's offset),
@ its bss (1 MB), its text offset and the decompressor's heap; the loader keeps the
@ initrd above all that.
    .balign 4
size_table:
    .word   6, 0x5A534C4B, inflated_size - _start, 0x100000, 0x8000, 0x10000
    .word   0
inflated_size:
    .word   0x300000

    .balign 8
stack_bottom:
    .space  STACK_SIZE

@ The section only Linux's ARM kernels have: the ELF build is recognised as Linux.
    .section .init.proc.info, "a"
    .balign 4
    .word   0

@ The image's last word: the kernel checks that it arrived whole.
    .section .image.end, "a"
    .global image_end_marker
    .hidden image_end_marker
    .balign 4
image_end_marker:
    .word   0x444E454C                  @ "LEND"
