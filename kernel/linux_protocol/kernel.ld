/* The Linux-protocol test kernel: one segment at RAM base + 0x8000 of the SA-11x0,
   position-independent so that it also runs where a PXA-2x0 puts it. */
OUTPUT_ARCH(arm)
ENTRY(_start)

PHDRS
{
    text PT_LOAD;
}

SECTIONS
{
    . = 0xC0008000;
    .text : { KEEP(*(.text.start)) *(.text .text.*) } :text
    .rodata : { *(.rodata .rodata.*) } :text
    .init.proc.info : { KEEP(*(.init.proc.info)) } :text
    .got : { *(.got .got.*) } :text
    .data : { *(.data .data.*) } :text
    .bss : { *(.bss .bss.* COMMON) } :text
    .image.end : { KEEP(*(.image.end)) } :text
    /DISCARD/ : { *(.ARM.exidx*) *(.ARM.extab*) *(.comment) *(.note*) }
}

ASSERT(SIZEOF(.got) == 0, "the test kernel must reach its data PC-relative, without a GOT")
ASSERT(SIZEOF(.data) == 0 && SIZEOF(.bss) == 0, "the test kernel keeps its state on its stack")
