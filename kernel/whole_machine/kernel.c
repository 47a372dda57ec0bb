/* The whole-machine test kernel: what a kernel needs of a machine beyond what the
   boot loader touches. It turns the MMU on with its own high vectors, takes a
   software interrupt, takes OS-timer interrupts through the interrupt controller,
   reads a line from the console UART and echoes it, prints a last line and halts.
   Built once for the SA-1110 and once for the PXA-27x: the OS timer and the interrupt
   controller have the same registers on both, at other addresses. */
typedef unsigned int u32;

#ifdef PXA27X
#define UART 0x40100000u
#define OST 0x40A00000u
#define INTC 0x40D00000u
#define RAM 0xA0000000u
#define NAME "PXA-27x"
#else
#define UART 0x80050000u
#define OST 0x90000000u
#define INTC 0x90050000u
#define RAM 0xC0000000u
#define NAME "SA-1110"
#endif

#define REG(base, offset) (*(volatile u32*)((base) + (offset)))
#define OSMR0 0x00
#define OSCR 0x10
#define OSSR 0x14
#define OIER 0x1C
#define ICIP 0x00
#define ICMR 0x04
#define ICLR 0x08
#define OST_MATCH0 (1u << 26)
#define TICK 36864u /* 10 ms of the SA-1110's 3.6864 MHz; 11.3 ms at the PXA's 3.25 MHz */
#define TICKS 5

/* The high vector page is a section of its own, 15 MB into RAM. */
#define VECTOR_SECTION (RAM + 0x00F00000u)

static u32 translation_table[4096] __attribute__((aligned(16384)));
static volatile u32 ticks;
static volatile u32 swi_number;

extern char vectors_start[], vectors_end[];

static void put(char c) {
#ifdef PXA27X
    while (!(REG(UART, 0x14) & 0x20)) {
    }
    REG(UART, 0x00) = (u32)(unsigned char)c;
#else
    while (!(REG(UART, 0x20) & 0x04)) {
    }
    REG(UART, 0x14) = (u32)(unsigned char)c;
#endif
}

static int get(void) {
#ifdef PXA27X
    while (!(REG(UART, 0x14) & 0x01)) {
    }
    return (int)(REG(UART, 0x00) & 0xFF);
#else
    while (!(REG(UART, 0x20) & 0x02)) {
    }
    return (int)(REG(UART, 0x14) & 0xFF);
#endif
}

static void puts_(const char* s) {
    while (*s) {
        if (*s == '\n') put('\r');
        put(*s++);
    }
}

static void put_number(u32 n) {
    char digits[12];
    int i = 0;
    do digits[i++] = (char)('0' + n % 10);
    while ((n /= 10) != 0);
    while (i > 0) put(digits[--i]);
}

void on_swi(u32 number) { swi_number = number; }

void on_irq(void) {
    if (REG(INTC, ICIP) & OST_MATCH0) {
        REG(OST, OSSR) = 1;
        REG(OST, OSMR0) = REG(OST, OSCR) + TICK;
        ++ticks;
    }
}

void on_stray(u32 cpsr) {
    puts_("stray exception, mode ");
    put_number(cpsr & 0x1F);
    puts_("\n");
}

static void mmu_on(void) {
    /* Flat sections everywhere, and the top megabyte on the vector section. */
    for (u32 i = 0; i < 4096; ++i) translation_table[i] = (i << 20) | (3u << 10) | 0x12u;
    translation_table[4095] = VECTOR_SECTION | (3u << 10) | 0x12u;
    const u32 page = VECTOR_SECTION + 0x000F0000u;
    for (char *from = vectors_start, *to = (char*)page; from < vectors_end;) *to++ = *from++;
    u32 zero = 0, manager = 3;
    __asm__ volatile("mcr p15, 0, %0, c2, c0, 0" ::"r"(translation_table));
    __asm__ volatile("mcr p15, 0, %0, c3, c0, 0" ::"r"(manager));
    __asm__ volatile("mcr p15, 0, %0, c8, c7, 0" ::"r"(zero));
    u32 control;
    __asm__ volatile("mrc p15, 0, %0, c1, c0, 0" : "=r"(control));
    control |= 1u | (1u << 13); /* MMU on, high vectors */
    __asm__ volatile("mcr p15, 0, %0, c1, c0, 0\n\tnop\n\tnop" ::"r"(control));
}

void kernel_main(void) {
    puts_("whole machine: " NAME "\n");
    mmu_on();
    puts_("mmu on, vectors at 0xffff0000\n");

    __asm__ volatile("swi 0x42" ::: "memory");
    puts_("swi ");
    put_number(swi_number);
    puts_(" taken\n");

    REG(INTC, ICLR) = 0;             /* every source an IRQ */
    REG(INTC, ICMR) = OST_MATCH0;    /* only the OS timer's match 0 */
    REG(OST, OSSR) = 0xF;
    REG(OST, OSMR0) = REG(OST, OSCR) + TICK;
    REG(OST, OIER) = 1;
    __asm__ volatile("mrs r0, cpsr\n\tbic r0, r0, #0x80\n\tmsr cpsr_c, r0" ::: "r0", "memory");
    while (ticks < TICKS) {
    }
    __asm__ volatile("mrs r0, cpsr\n\torr r0, r0, #0x80\n\tmsr cpsr_c, r0" ::: "r0", "memory");
    REG(OST, OIER) = 0;
    puts_("timer: ");
    put_number(ticks);
    puts_(" interrupts\n");

    puts_("type a line: ");
    char line[80];
    u32 n = 0;
    for (;;) {
        int c = get();
        if (c == '\r' || c == '\n') break;
        if (n < sizeof line - 1) line[n++] = (char)c;
    }
    line[n] = 0;
    puts_("\necho: ");
    puts_(line);
    puts_("\nwhole machine: done\n");
}
