/* The Linux-protocol test kernel: entered as Linux's ARM boot protocol requires, it
   checks what it was handed and reports on the platform's UART:

     linux protocol kernel at 0x........
     r0 0x........ r1 <machine> r2 0x........
     cpsr 0x........ control 0x........
     ATAG_CORE flags 0x........ pagesize <n> rootdev 0x........
     ATAG_MEM 0x........+0x........              one per bank
     ATAG_VIDEOLFB <w>x<h>x<depth> line <n> at 0x........+0x........
     ATAG_INITRD2 0x........+0x........ bytes ok
     ATAG_CMDLINE "<text>"
     ATAG_NONE
     check <what>: ok | FAIL ...                 one per check
     OK | FAIL

   Checked: r0 is 0; r1 is the number the command line names as lpk.machine=N; SVC
   mode with IRQ and FIQ masked, ARM state; MMU and data cache off; the list starts with
   ATAG_CORE and ends with ATAG_NONE inside 16 KB, every tag of the size Linux expects;
   the command line is terminated inside its tag; each bank is page aligned, the list
   and the kernel lie in RAM; the initrd lies in RAM, has the size lpk.initrd=N names
   (none when the command line names none) and holds the test pattern, byte i being
   (i * 131 + (i >> 9) + 7) mod 256; and that the kernel's own last word arrived.

   Built position-independent, without data or bss: it runs where a PXA-2x0 loader
   puts it too, and decides the UART by where it runs. */
#pragma GCC visibility push(hidden)

typedef unsigned int u32;
typedef unsigned short u16;
typedef unsigned char u8;

void kernel_main(u32 r0, u32 r1, u32 r2, u32 cpsr, u32 control);
extern const u32 image_end_marker; /* the image's last word */

#define SA_UART 0x80050000u
#define PXA_UART 0x40100000u

#define ATAG_NONE 0x00000000u
#define ATAG_CORE 0x54410001u
#define ATAG_MEM 0x54410002u
#define ATAG_INITRD2 0x54420005u
#define ATAG_VIDEOLFB 0x54410008u
#define ATAG_CMDLINE 0x54410009u
#define LIST_LIMIT 0x4000u
#define MAX_BANKS 8

struct state {
    u32 on_pxa;
    u32 failures;
    u32 banks;
    u32 bank_start[MAX_BANKS];
    u32 bank_size[MAX_BANKS];
};

static void put_char(const struct state* s, char c) {
    if (s->on_pxa) {
        while (!(*(volatile u32*)(PXA_UART + 0x14) & 0x20)) {
        }
        *(volatile u32*)(PXA_UART) = (u8)c;
    } else {
        while (*(volatile u32*)(SA_UART + 0x20) & 1) {
        }
        *(volatile u32*)(SA_UART + 0x14) = (u8)c;
    }
}

static void put(const struct state* s, const char* text) {
    while (*text) put_char(s, *text++);
}

static void put_hex(const struct state* s, u32 value) {
    put(s, "0x");
    for (int shift = 28; shift >= 0; shift -= 4) {
        u32 digit = (value >> shift) & 0xF;
        put_char(s, (char)(digit < 10 ? '0' + digit : 'a' + digit - 10));
    }
}

static void put_decimal(const struct state* s, u32 value) {
    char digits[11];
    int n = 0;
    do {
        digits[n++] = (char)('0' + value % 10);
        value /= 10;
    } while (value);
    while (n) put_char(s, digits[--n]);
}

static void end_line(const struct state* s) { put(s, "\r\n"); }

static void check(struct state* s, const char* what, int ok) {
    put(s, "check ");
    put(s, what);
    put(s, ok ? ": ok" : ": FAIL");
    end_line(s);
    if (!ok) s->failures++;
}

/* The number after `key` in the command line; -1 when the key is absent. */
static long long option(const char* line, u32 length, const char* key) {
    for (u32 i = 0; i < length; ++i) {
        if (i > 0 && line[i - 1] != ' ' && line[i - 1] != '\t') continue;
        u32 k = 0;
        while (key[k] && i + k < length && line[i + k] == key[k]) ++k;
        if (key[k]) continue;
        long long value = 0;
        u32 j = i + k;
        if (j >= length || line[j] < '0' || line[j] > '9') return -1;
        while (j < length && line[j] >= '0' && line[j] <= '9') value = value * 10 + (line[j++] - '0');
        return value;
    }
    return -1;
}

static int in_ram(const struct state* s, u32 address, u32 size) {
    for (u32 i = 0; i < s->banks; ++i)
        if (address >= s->bank_start[i] && address - s->bank_start[i] < s->bank_size[i] &&
            size <= s->bank_size[i] - (address - s->bank_start[i]))
            return 1;
    return 0;
}

void kernel_main(u32 r0, u32 r1, u32 r2, u32 cpsr, u32 control) {
    struct state state;
    struct state* s = &state;
    u32 here = (u32)(unsigned long)&kernel_main;
    s->on_pxa = (here >> 28) == 0xA;
    s->failures = 0;
    s->banks = 0;

    put(s, "linux protocol kernel at ");
    put_hex(s, here);
    end_line(s);
    put(s, "r0 ");
    put_hex(s, r0);
    put(s, " r1 ");
    put_decimal(s, r1);
    put(s, " r2 ");
    put_hex(s, r2);
    end_line(s);
    put(s, "cpsr ");
    put_hex(s, cpsr);
    put(s, " control ");
    put_hex(s, control);
    end_line(s);

    const u32* tag = (const u32*)(unsigned long)r2;
    const char* line = 0;
    u32 line_length = 0;
    u32 initrd_start = 0, initrd_size = 0, initrds = 0, cores = 0, ended = 0, sizes_ok = 1, offset = 0;
    int list_ok = (r2 & 3) == 0;
    while (list_ok && offset < LIST_LIMIT) {
        u32 size = tag[0], kind = tag[1];
        if (offset == 0 && kind != ATAG_CORE) break;
        if (kind == ATAG_NONE) {
            put(s, "ATAG_NONE");
            end_line(s);
            sizes_ok &= size == 0;
            ended = 1;
            break;
        }
        if (size < 2 || size * 4 > LIST_LIMIT - offset) break;
        if (kind == ATAG_CORE) {
            cores++;
            sizes_ok &= offset == 0 && (size == 5 || size == 2);
            put(s, "ATAG_CORE");
            if (size == 5) {
                put(s, " flags ");
                put_hex(s, tag[2]);
                put(s, " pagesize ");
                put_decimal(s, tag[3]);
                put(s, " rootdev ");
                put_hex(s, tag[4]);
            }
        } else if (kind == ATAG_MEM) {
            sizes_ok &= size == 4;
            put(s, "ATAG_MEM ");
            put_hex(s, tag[3]);
            put(s, "+");
            put_hex(s, tag[2]);
            if (s->banks < MAX_BANKS) {
                s->bank_start[s->banks] = tag[3];
                s->bank_size[s->banks] = tag[2];
                s->banks++;
            }
            sizes_ok &= (tag[2] & 0xFFF) == 0 && (tag[3] & 0xFFF) == 0 && tag[2] != 0;
        } else if (kind == ATAG_VIDEOLFB) {
            sizes_ok &= size == 8;
            const u16* v = (const u16*)&tag[2];
            put(s, "ATAG_VIDEOLFB ");
            put_decimal(s, v[0]);
            put(s, "x");
            put_decimal(s, v[1]);
            put(s, "x");
            put_decimal(s, v[2]);
            put(s, " line ");
            put_decimal(s, v[3]);
            put(s, " at ");
            put_hex(s, tag[4]);
            put(s, "+");
            put_hex(s, tag[5]);
        } else if (kind == ATAG_INITRD2) {
            sizes_ok &= size == 4;
            initrds++;
            initrd_start = tag[2];
            initrd_size = tag[3];
            put(s, "ATAG_INITRD2 ");
            put_hex(s, initrd_start);
            put(s, "+");
            put_hex(s, initrd_size);
        } else if (kind == ATAG_CMDLINE) {
            line = (const char*)&tag[2];
            u32 room = (size - 2) * 4;
            line_length = 0;
            while (line_length < room && line[line_length]) ++line_length;
            sizes_ok &= line_length < room && room - line_length <= 4;
            put(s, "ATAG_CMDLINE \"");
            for (u32 i = 0; i < line_length; ++i) put_char(s, line[i]);
            put(s, "\"");
        } else {
            put(s, "unknown tag ");
            put_hex(s, kind);
            sizes_ok = 0;
        }
        end_line(s);
        offset += size * 4;
        tag += size;
    }

    check(s, "r0", r0 == 0);
    long long machine = line ? option(line, line_length, "lpk.machine=") : -1;
    check(s, "r1", machine >= 0 && (u32)machine == r1);
    check(s, "svc mode", (cpsr & 0x1F) == 0x13 && (cpsr & 0xC0) == 0xC0 && !(cpsr & 0x20));
    check(s, "mmu and dcache off", (control & 5) == 0);
    check(s, "tag list", list_ok && ended && cores == 1 && sizes_ok && line != 0 && s->banks > 0);
    check(s, "tags in ram", s->banks > 0 && in_ram(s, r2, offset + 8));
    check(s, "kernel in ram", in_ram(s, here, 4));
    check(s, "kernel whole", image_end_marker == 0x444E454Cu);
    long long wanted = line ? option(line, line_length, "lpk.initrd=") : -1;
    if (wanted < 0) {
        check(s, "no initrd", initrds == 0);
    } else {
        int placed = initrds == 1 && initrd_size == (u32)wanted && in_ram(s, initrd_start, initrd_size);
        int bytes = placed;
        const u8* p = (const u8*)(unsigned long)initrd_start;
        for (u32 i = 0; bytes && i < initrd_size; ++i) bytes = p[i] == (u8)(i * 131 + (i >> 9) + 7);
        check(s, "initrd", placed && bytes);
    }
    put(s, s->failures ? "FAIL" : "OK");
    end_line(s);
}
