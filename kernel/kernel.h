/* What the sample kernel is handed, as it reads it: the BootInfo record and the ELF
   structures of the symbol-table image the boot loader puts behind the kernel. */
#ifndef SAMPLE_KERNEL_H
#define SAMPLE_KERNEL_H

typedef unsigned int u32;
typedef signed int s32;
typedef unsigned short u16;
typedef signed short s16;
typedef unsigned char u8;

#define BOOTINFO_SIGNATURE 0x13536135u
#define BOOTINFO_LENGTH 36

struct boot_info {
    u16 length;
    u16 reserved;
    u32 magic;
    u32 fb_address;
    s16 fb_line_bytes;
    s16 fb_width;
    s16 fb_height;
    s16 fb_type;
    s16 console_kind;
    u16 pad;
    u32 platform_cpu;
    u32 platform_machine;
    s32 timezone;
};

struct elf_header {
    u8 e_ident[16];
    u16 e_type;
    u16 e_machine;
    u32 e_version;
    u32 e_entry;
    u32 e_phoff;
    u32 e_shoff;
    u32 e_flags;
    u16 e_ehsize;
    u16 e_phentsize;
    u16 e_phnum;
    u16 e_shentsize;
    u16 e_shnum;
    u16 e_shstrndx;
};

struct elf_section {
    u32 sh_name;
    u32 sh_type;
    u32 sh_flags;
    u32 sh_addr;
    u32 sh_offset;
    u32 sh_size;
    u32 sh_link;
    u32 sh_info;
    u32 sh_addralign;
    u32 sh_entsize;
};

struct elf_symbol {
    u32 st_name;
    u32 st_value;
    u32 st_size;
    u8 st_info;
    u8 st_other;
    u16 st_shndx;
};

#endif
