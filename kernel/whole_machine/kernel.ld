/* The whole-machine test kernel at a fixed place in RAM (BASE is given at link time):
   code, then data and bss, each segment page-aligned. */
ENTRY(_start)
SECTIONS
{
    . = BASE;
    .text : { *(.text.start) *(.text*) *(.rodata*) }
    . = ALIGN(4096);
    .data : { *(.data*) }
    . = ALIGN(4096);
    .bss : { *(.bss*) *(COMMON) }
}
