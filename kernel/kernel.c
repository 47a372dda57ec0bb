/* The sample kernel: checks everything the boot loader handed over and reports on the
   platform's UART, then halts (a branch to itself).

   The report, one line each, ended by CR LF:
     sample kernel at 0xXXXXXXXX linked at 0xXXXXXXXX on SA-11x0|PXA-2x0
     data "<the banner kept in the data segment>"
     argc N
     argv[I] "<string>"              for every argument that can be read
     bootinfo length N magic 0xXXXXXXXX
     bootinfo framebuffer 0xXXXXXXXX linebytes N width N height N type N
     bootinfo console N platform 0xXXXXXXXX 0xXXXXXXXX timezone N
     ksyms at 0xXXXXXXXX sections N symbols N   when the symbol image's tables are sound
     ksyms symbol NAME value 0xXXXXXXXX runs at 0xXXXXXXXX   for an own symbol that is off
     stack at 0xXXXXXXXX
     large data N words               only in the large variant
     check <name>: ok | check <name>: FAIL <reason>
                                      for bss, data, argv, bootinfo, ksyms, stack
                                      (and large data), in that order
     drew border and colour bars at 0xXXXXXXXX   when the boot information is sound
                                      and names a 16-bit screen at an address
     OK | FAIL                         the verdict: OK only when every check is ok

   Built position-independent: it runs at its link address in SA-11x0 RAM and at the
   address the PXA-2x0 loader folds it to (0xA0000000 + the low 24 bits). It decides
   the platform, and so the UART, by where it runs. */
#pragma GCC visibility push(hidden)

#include "kernel.h"

extern char __bss_start[], __bss_end[], __kernel_end[];
extern const u32 linked_addresses[3]; /* _start, kernel_main, __bss_start */
void _start(void);
void kernel_main(u32 argc, u32 argv, u32 bootinfo, u32 sp);

#ifdef LARGE_DATA
extern const u32 large_data[];
extern const u32 large_data_words;
extern const u32 large_data_sum_a;
extern const u32 large_data_sum_b;
#endif

#define SA_UART 0x80050000u
#define SA_UTDR 0x14u
#define SA_UTSR1 0x20u
#define SA_UTSR1_TBY 0x1u
#define PXA_UART 0x40100000u
#define PXA_THR 0x00u
#define PXA_LSR 0x14u
#define PXA_LSR_TDRQ 0x20u

#define DATA_MARKER 0x5AA5C33Cu
#define ARGV_ENTRIES 16
#define BOOT_PAGE 4096u

/* Kept in the data segment: their values show that it was loaded. */
static volatile u32 data_marker = DATA_MARKER;
static char banner[] = "quorvel sample kernel";

/* In the bss: zero on entry, written only after the bss has been checked. */
static u32 on_pxa;
static u32 failures;
static char number[12];

static u32 ram_start(void) { return on_pxa ? 0xA0000000u : 0xC0000000u; }
static u32 ram_span(void) { return on_pxa ? 0x10000000u : 0x20000000u; }

/* Whether [address, address + size) lies in the platform's DRAM banks. */
static int in_ram(u32 address, u32 size) {
    u32 start = ram_start(), span = ram_span();
    if (address < start) return 0;
    u32 off = address - start;
    return off < span && size <= span - off;
}

static void put_char(char c) {
    if (on_pxa) {
        while (!(*(volatile u32*)(PXA_UART + PXA_LSR) & PXA_LSR_TDRQ)) {
        }
        *(volatile u32*)(PXA_UART + PXA_THR) = (u8)c;
    } else {
        while (*(volatile u32*)(SA_UART + SA_UTSR1) & SA_UTSR1_TBY) {
        }
        *(volatile u32*)(SA_UART + SA_UTDR) = (u8)c;
    }
}

static void put(const char* text) {
    while (*text) put_char(*text++);
}

static void end_line(void) { put("\r\n"); }

static void put_hex(u32 value) {
    put("0x");
    for (int shift = 28; shift >= 0; shift -= 4) {
        u32 digit = (value >> shift) & 0xF;
        put_char((char)(digit < 10 ? '0' + digit : 'A' + digit - 10));
    }
}

/* Decimal without a division routine: ARMv4 has no divide instruction. */
static void put_dec(s32 value) {
    static const u32 powers[] = {1000000000u, 100000000u, 10000000u, 1000000u, 100000u,
                                 10000u,      1000u,      100u,      10u,      1u};
    u32 magnitude = value < 0 ? 0u - (u32)value : (u32)value;
    int length = 0;
    if (value < 0) number[length++] = '-';
    int started = 0;
    for (unsigned i = 0; i < sizeof powers / sizeof powers[0]; ++i) {
        char digit = '0';
        while (magnitude >= powers[i]) {
            magnitude -= powers[i];
            ++digit;
        }
        if (digit != '0' || started || powers[i] == 1) {
            number[length++] = digit;
            started = 1;
        }
    }
    number[length] = 0;
    put(number);
}

static void report(const char* name, const char* failure) {
    put("check ");
    put(name);
    if (failure) {
        put(": FAIL ");
        put(failure);
        ++failures;
    } else {
        put(": ok");
    }
    end_line();
}

static int printable(u8 c) { return c >= 0x20 && c != 0x7F; }

/* Length of the NUL-terminated string at address, or -1 when it does not end within
   limit bytes or holds a control character. */
static s32 string_length(u32 address, u32 limit) {
    const u8* p = (const u8*)address;
    for (u32 i = 0; i < limit; ++i) {
        if (p[i] == 0) return (s32)i;
        if (!printable(p[i])) return -1;
    }
    return -1;
}

/* Whether the string at offset in a string table of table_size bytes is name. */
static int same_name(const u8* table, u32 table_size, u32 offset, const char* name) {
    if (offset >= table_size) return 0;
    u32 room = table_size - offset;
    u32 i = 0;
    for (; name[i]; ++i)
        if (i >= room || table[offset + i] != (u8)name[i]) return 0;
    return i < room && table[offset + i] == 0;
}

static u32 align4(u32 value) { return (value + 3u) & ~3u; }

static const char* check_bss(void) {
    for (const volatile u32* p = (const u32*)__bss_start; p < (const u32*)__bss_end; ++p)
        if (*p != 0) return "not zero";
    return 0;
}

static const char* check_data(void) {
    put("data \"");
    put(banner);
    put("\"");
    end_line();
    return data_marker == DATA_MARKER ? 0 : "marker";
}

static const char* check_argv(u32 argc, u32 argv) {
    put("argc ");
    put_dec((s32)argc);
    end_line();
    if (argc < 1 || argc > ARGV_ENTRIES) return "argc";
    if ((argv & 3) || !in_ram(argv, ARGV_ENTRIES * 4)) return "argv address";
    /* The strings live in the boot information page, beside the vector. */
    u32 page = argv & ~(BOOT_PAGE - 1);
    const char* failure = 0;
    for (u32 i = 0; i < argc; ++i) {
        u32 string = ((const u32*)argv)[i];
        if (string < page || string - page >= BOOT_PAGE || !in_ram(string, 1)) {
            failure = failure ? failure : "string address";
            continue;
        }
        s32 length = string_length(string, page + BOOT_PAGE - string);
        if (length <= 0) {
            failure = failure ? failure : "string";
            continue;
        }
        put("argv[");
        put_dec((s32)i);
        put("] \"");
        put((const char*)string);
        put("\"");
        end_line();
    }
    return failure;
}

static int valid_fb_type(s32 type) {
    return type == 0 || type == 2 || type == 3 || type == 4 || type == 5 || type == 6 || type == 8 || type == 10;
}

static const char* check_bootinfo(u32 address) {
    if ((address & 3) || !in_ram(address, sizeof(struct boot_info))) return "address";
    const struct boot_info* info = (const struct boot_info*)address;
    put("bootinfo length ");
    put_dec(info->length);
    put(" magic ");
    put_hex(info->magic);
    end_line();
    put("bootinfo framebuffer ");
    put_hex(info->fb_address);
    put(" linebytes ");
    put_dec(info->fb_line_bytes);
    put(" width ");
    put_dec(info->fb_width);
    put(" height ");
    put_dec(info->fb_height);
    put(" type ");
    put_dec(info->fb_type);
    end_line();
    put("bootinfo console ");
    put_dec(info->console_kind);
    put(" platform ");
    put_hex(info->platform_cpu);
    put(" ");
    put_hex(info->platform_machine);
    put(" timezone ");
    put_dec(info->timezone);
    end_line();

    if (info->length != BOOTINFO_LENGTH || info->reserved != 0) return "length";
    if (info->magic != BOOTINFO_SIGNATURE) return "magic";
    if (!valid_fb_type(info->fb_type) || info->fb_line_bytes < 0 || info->fb_width < 0 || info->fb_height < 0)
        return "framebuffer";
    if (info->console_kind != 1 && info->console_kind != 2) return "console";
    /* cpu word: architecture 3 (ARM), series 1 (StrongARM) or 2 (XScale). */
    u32 arch = info->platform_cpu >> 26, series = (info->platform_cpu >> 20) & 0x3F;
    if (arch != 3 || series != (on_pxa ? 2u : 1u)) return "platform";
    if (info->timezone < -24 * 60 || info->timezone > 24 * 60) return "timezone";
    return 0;
}

/* A picture drawn with nothing but what the boot information says of the screen: a
   yellow border 4 pixels wide and eight colour bars across the middle third, from
   black on the left to white on the right. Only 16-bit screens (types 5 and 6). */
static const u16 bar_colours[8] = {0x0000, 0x001F, 0x07E0, 0x07FF, 0xF800, 0xF81F, 0xFFE0, 0xFFFF};

/* No division instruction on ARMv4 and no library: by subtraction, for small numbers. */
static s32 divide(s32 a, s32 b) {
    s32 q = 0;
    while (a >= b) {
        a -= b;
        ++q;
    }
    return q;
}

static void draw_screen(u32 address) {
    const struct boot_info* info = (const struct boot_info*)address;
    if (info->fb_address == 0 || (info->fb_type != 5 && info->fb_type != 6)) return;  /* no screen known */
    s32 w = info->fb_width, h = info->fb_height, line = info->fb_line_bytes;
    if (w < 16 || h < 16 || line < w * 2) return;
    s32 third = divide(h, 3), bar = divide(w - 8, 8);
    for (s32 y = 0; y < h; ++y) {
        u16* row = (u16*)(info->fb_address + (u32)(y * line));
        for (s32 x = 0; x < w; ++x) {
            u16 colour = 0x4208; /* dark grey, so the black bar shows */
            if (x < 4 || y < 4 || x >= w - 4 || y >= h - 4)
                colour = 0xFFE0;
            else if (y >= third && y < 2 * third) {
                s32 index = divide(x - 4, bar);
                colour = bar_colours[index > 7 ? 7 : index];
            }
            row[x] = colour;
        }
    }
    put("drew border and colour bars at ");
    put_hex(info->fb_address);
    end_line();
}

/* Whether symbol is `name`; when it is, its value must be the link-time address and,
   moved by delta, where the thing really is. */
static int own_symbol(const struct elf_symbol* symbol, const u8* strings, u32 strings_size, const char* name,
                      u32 linked, u32 actual, u32 delta, const char** failure) {
    if (!same_name(strings, strings_size, symbol->st_name, name)) return 0;
    if (symbol->st_value != linked || symbol->st_value + delta != actual) {
        put("ksyms symbol ");
        put(name);
        put(" value ");
        put_hex(symbol->st_value);
        put(" runs at ");
        put_hex(actual);
        end_line();
        *failure = "symbol value";
    }
    return 1;
}

/* The symbol-table image at K: an ELF header, section headers, the section names, the
   symbol table and its strings, every offset relative to K and inside `limit`. Its end
   is stored in *end. */
static const char* check_ksyms(u32 k, u32 limit, u32 delta, u32* end) {
    *end = k;
    if (limit < sizeof(struct elf_header)) return "no room";
    const struct elf_header* header = (const struct elf_header*)k;
    const u8* id = header->e_ident;
    if (id[0] != 0x7F || id[1] != 'E' || id[2] != 'L' || id[3] != 'F') return "no ELF header";
    if (id[4] != 1 || id[5] != 1 || header->e_machine != 40 || header->e_type != 2) return "ELF kind";
    if (header->e_entry != 0 || header->e_phoff != 0 || header->e_phnum != 0 || header->e_shoff != 52)
        return "ELF header fields";
    if (header->e_shentsize != sizeof(struct elf_section) || header->e_shnum == 0 ||
        header->e_shstrndx >= header->e_shnum)
        return "section table";
    u32 table_size = (u32)header->e_shnum * sizeof(struct elf_section);
    if (limit - 52 < table_size) return "section table";
    const struct elf_section* sections = (const struct elf_section*)(k + 52);
    u32 area_end = 52 + table_size;

    const struct elf_section* names = &sections[header->e_shstrndx];
    if (limit < names->sh_offset || limit - names->sh_offset < names->sh_size) return "section names";
    const u8* name_table = (const u8*)(k + names->sh_offset);
    if (names->sh_offset + names->sh_size > area_end) area_end = names->sh_offset + names->sh_size;

    int symtab = -1, strtab = -1;
    for (int i = 0; i < header->e_shnum; ++i) {
        if (same_name(name_table, names->sh_size, sections[i].sh_name, ".symtab")) symtab = i;
        if (same_name(name_table, names->sh_size, sections[i].sh_name, ".strtab")) strtab = i;
    }
    if (symtab < 0 || strtab < 0) return "no symbol table";
    const struct elf_section* symbols = &sections[symtab];
    const struct elf_section* strings = &sections[strtab];
    if (symbols->sh_entsize != sizeof(struct elf_symbol) || symbols->sh_size % sizeof(struct elf_symbol) != 0 ||
        symbols->sh_link != (u32)strtab)
        return "symbol table kind";
    if ((symbols->sh_offset & 3) || limit < symbols->sh_offset || limit - symbols->sh_offset < symbols->sh_size)
        return "symbol table place";
    if (limit < strings->sh_offset || limit - strings->sh_offset < strings->sh_size) return "string table place";
    if (symbols->sh_offset + symbols->sh_size > area_end) area_end = symbols->sh_offset + symbols->sh_size;
    if (strings->sh_offset + strings->sh_size > area_end) area_end = strings->sh_offset + strings->sh_size;
    *end = k + area_end;

    const u8* string_table = (const u8*)(k + strings->sh_offset);
    u32 count = symbols->sh_size / sizeof(struct elf_symbol);
    put("ksyms at ");
    put_hex(k);
    put(" sections ");
    put_dec(header->e_shnum);
    put(" symbols ");
    put_dec((s32)count);
    end_line();

    /* The kernel's own symbols, by name: their values are the link-time addresses, and
       moved by delta they are where the code and data really are. */
    const struct elf_symbol* table = (const struct elf_symbol*)(k + symbols->sh_offset);
    int found = 0;
    for (u32 s = 0; s < count; ++s) {
        const char* failure = 0;
        found |= own_symbol(&table[s], string_table, strings->sh_size, "_start", linked_addresses[0],
                            (u32)&_start, delta, &failure);
        found |= own_symbol(&table[s], string_table, strings->sh_size, "kernel_main", linked_addresses[1],
                            (u32)&kernel_main, delta, &failure) << 1;
        found |= own_symbol(&table[s], string_table, strings->sh_size, "__bss_start", linked_addresses[2],
                            (u32)__bss_start, delta, &failure) << 2;
        if (failure) return failure;
    }
    return found == 7 ? 0 : "own symbols missing";
}

#ifdef LARGE_DATA
/* Eight words a round, loaded by one instruction: the same two sums in half the
   instructions, which counts when the words run into millions. */
#define SUM_WORD(w) \
    do {            \
        a += (w);   \
        b += a;     \
    } while (0)

static const char* check_large_data(void) {
    u32 a = 0, b = 0;
    const u32* p = large_data;
    const u32* end = large_data + large_data_words;
    while ((u32)(end - p) >= 8) {
        /* ldm fills the lowest-numbered register from the lowest address: the
           registers are named so that w0..w7 are the words in order. */
        register u32 w0 __asm__("r2");
        register u32 w1 __asm__("r3");
        register u32 w2 __asm__("r4");
        register u32 w3 __asm__("r5");
        register u32 w4 __asm__("r6");
        register u32 w5 __asm__("r7");
        register u32 w6 __asm__("r8");
        register u32 w7 __asm__("r9");
        __asm__("ldmia %[p]!, {%[w0], %[w1], %[w2], %[w3], %[w4], %[w5], %[w6], %[w7]}"
                : [p] "+r"(p), [w0] "=r"(w0), [w1] "=r"(w1), [w2] "=r"(w2), [w3] "=r"(w3), [w4] "=r"(w4),
                  [w5] "=r"(w5), [w6] "=r"(w6), [w7] "=r"(w7)
                : "m"(*(const u32(*)[8])p));
        SUM_WORD(w0);
        SUM_WORD(w1);
        SUM_WORD(w2);
        SUM_WORD(w3);
        SUM_WORD(w4);
        SUM_WORD(w5);
        SUM_WORD(w6);
        SUM_WORD(w7);
    }
    while (p < end) SUM_WORD(*p++);
    put("large data ");
    put_dec((s32)large_data_words);
    put(" words");
    end_line();
    return a == large_data_sum_a && b == large_data_sum_b ? 0 : "checksum";
}
#endif

void kernel_main(u32 argc, u32 argv, u32 bootinfo, u32 sp) {
    /* The bss must be looked at before anything is stored in it. */
    const char* bss = check_bss();
    u32 here = (u32)&_start;
    on_pxa = (here >> 28) == 0xA;
    u32 delta = here - linked_addresses[0];

    put("sample kernel at ");
    put_hex(here);
    put(" linked at ");
    put_hex(linked_addresses[0]);
    put(on_pxa ? " on PXA-2x0" : " on SA-11x0");
    end_line();

    const char* data = check_data();
    const char* args = check_argv(argc, argv);
    const char* info = check_bootinfo(bootinfo);

    /* The symbol image starts at the end of the last segment and ends below the stack
       the loader set up above the last data it placed. */
    u32 k = align4((u32)__kernel_end);
    u32 ksyms_end = k;
    const char* ksyms = sp > k ? check_ksyms(k, sp - k, delta, &ksyms_end) : "stack below kernel";

    put("stack at ");
    put_hex(sp);
    end_line();
    const char* stack = 0;
    if ((sp & (BOOT_PAGE - 1)) || sp <= ksyms_end || sp - ksyms_end <= 0x1000) stack = "placement";

#ifdef LARGE_DATA
    const char* large = check_large_data();
#endif

    report("bss", bss);
    report("data", data);
    report("argv", args);
    report("bootinfo", info);
    report("ksyms", ksyms);
    report("stack", stack);
#ifdef LARGE_DATA
    report("large data", large);
#endif
    /* The screen is wherever the boot information says: a record that failed its
       check is not trusted with a write. */
    if (!info) draw_screen(bootinfo);
    put(failures ? "FAIL" : "OK");
    end_line();
}
