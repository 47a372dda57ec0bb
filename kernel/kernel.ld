/* The sample kernel's layout: linked in SA-11x0 RAM, code and constants in one
   segment, data and bss in the next; the symbol tables follow at __kernel_end. */
OUTPUT_ARCH(arm)
ENTRY(_start)

PHDRS
{
    text PT_LOAD;
    data PT_LOAD;
}

SECTIONS
{
    . = 0xC0200000;
    .text : { KEEP(*(.text.start)) *(.text .text.*) } :text
    .rodata : { *(.rodata .rodata.*) } :text
    .got : { *(.got .got.*) } :text
    . = ALIGN(4096);
    .data.rel.ro : { *(.data.rel.ro .data.rel.ro.*) } :data
    .data : { *(.data .data.*) } :data
    .bss : {
        __bss_start = .;
        *(.bss .bss.* COMMON)
        . = ALIGN(4);
        __bss_end = .;
    } :data
    __kernel_end = .;
    /DISCARD/ : { *(.ARM.exidx*) *(.ARM.extab*) *(.comment) *(.note*) }
}

/* An address taken through a GOT or stored in data would still point into SA-11x0 RAM
   after the PXA-2x0 loader has folded the kernel. (The build also refuses absolute
   relocations in the compiled C.) */
ASSERT(SIZEOF(.got) == 0, "the sample kernel must reach its data PC-relative, without a GOT")
ASSERT(SIZEOF(.data.rel.ro) == 0, "the sample kernel must not keep addresses in its data")
