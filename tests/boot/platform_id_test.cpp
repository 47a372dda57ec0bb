// Platform identification: match scores, the searches, the named platforms and the
// byte-order helpers.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "boot/platform_id.h"

using namespace quorvel;

namespace {

struct MatchCase {
    const char* what;
    PlatformId subject;
    PlatformId candidate;
    bool acceptUnset;
    unsigned score;
};

const MatchCase matchCases[] = {
    {"an id with itself", {0x0C208000, 0x01040100}, {0x0C208000, 0x01040100}, false, 9},
    {"(0, 0) with (0, 0)", {0, 0}, {0, 0}, false, 9},
    {"a CPU row matches a machine of that CPU", {0x0C208000, 0x01040100}, {0x0C208000, 0}, false, 6},
    {"Jornada 720 variant against Jornada 7XX", {0x0C108000, 0x02C20203}, {0, 0x02C20200}, false, 5},
    {"Jornada 720 variant against Jornada 8XX", {0x0C108000, 0x02C20203}, {0, 0x02C20300}, false, 0},
    {"unset subject against ARM, plain", {0, 0}, {0x0C000000, 0}, false, 0},
    {"unset subject against ARM, accepting unset", {0, 0}, {0x0C000000, 0}, true, 8},
    {"the cpu word's low byte is not compared", {0x0C2080FF, 0x01040100}, {0x0C208000, 0x01040100}, false, 9},
    {"cpuSubmodel of the subject against a wildcard", {0x0C208100, 0}, {0x0C208000, 0}, false, 8},
    {"cpuSubmodel of the candidate is not a wildcard", {0x0C208000, 0}, {0x0C208100, 0}, false, 0},
    {"... unless the subject's may be unset", {0x0C208000, 0}, {0x0C208100, 0}, true, 8},
    {"all ten vendor bits are compared", {0, 0x40000000}, {0, 0xC0000000}, false, 0},
    {"series and vendor bits are apart", {0, 0x00010000}, {0, 0x00400000}, false, 0},
    {"cpu series differs", {0x0C108000, 0}, {0x0C208000, 0}, false, 0},
    {"StrongARM against SA1110 row: model is no wildcard", {0x0C100000, 0}, {0x0C108000, 0}, false, 0},
    {"SA1110 against StrongARM row", {0x0C108000, 0}, {0x0C100000, 0}, false, 8},
};

TEST(PlatformMatch, ScoresEqualFieldsAndTreatsZeroAsWildcard) {
    for (const MatchCase& c : matchCases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(platformMatch(c.subject, c.candidate, c.acceptUnset), c.score);
    }
}

TEST(PlatformMatch, PlainFormIsTheDefault) {
    EXPECT_EQ(platformMatch({0, 0}, {0x0C000000, 0}), 0u);
}

// An entry laid out like a caller's own table: the id reference first, then payload.
struct Tagged {
    const PlatformId* id;
    int tag;
    char padding[20];
};

TEST(BestMatch, HighestScoreWinsTiesGoToTheEarlierEntry) {
    const PlatformId strongArm = {0x0C100000, 0};
    const PlatformId sa1110 = {0x0C108000, 0};
    const PlatformId jornada7xx = {0, 0x02C20200};
    const PlatformId jornada720 = {0x0C108000, 0x02C20201};
    const PlatformId pxa = {0x0C208000, 0};
    const Tagged entries[] = {{&strongArm, 0, {}}, {&sa1110, 1, {}}, {&jornada7xx, 2, {}}, {&jornada720, 3, {}}, {&pxa, 4, {}}};

    struct Case {
        const char* what;
        PlatformId subject;
        int count;
        int tag;  // -1: none
    } cases[] = {
        {"exact row", {0x0C108000, 0x02C20201}, 5, 3},
        {"two rows of score 5: the first", {0x0C108000, 0x02C20209}, 5, 1},
        {"the best row is outside the count", {0x0C108000, 0x02C20201}, 3, 1},
        {"no row matches", {0x0C204000, 0x01C40301}, 5, -1},
        {"nothing to search", {0x0C108000, 0x02C20201}, 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto* found = static_cast<const Tagged*>(bestMatch(c.subject, entries, c.count, sizeof(Tagged)));
        if (c.tag < 0) {
            EXPECT_EQ(found, nullptr);
        } else {
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->tag, c.tag);
        }
    }
}

TEST(FirstMatch, TakesTheFirstMatchingPairElseTheDefault) {
    const PlatformId sa1100 = {0x0C104000, 0};
    const PlatformId sa1110 = {0x0C108000, 0};
    const PlatformId pxa270 = {0x0C208000, 0};
    int a = 0, b = 0, c = 0, fallback = 0;
    const PlatformListEntry withDefault[] = {{&sa1100, &a}, {&sa1110, &b}, {&pxa270, &c}, {nullptr, &fallback}};
    const PlatformListEntry withoutDefault[] = {{&sa1100, &a}, {&sa1110, &b}, {nullptr, nullptr}};

    struct Case {
        const char* what;
        const PlatformListEntry* list;
        PlatformId subject;
        const void* value;  // null: no entry
    } cases[] = {
        {"second pair", withDefault, {0x0C108000, 0x02C20201}, &b},
        {"third pair", withDefault, {0x0C208000, 0x01040300}, &c},
        {"no pair: the default", withDefault, {0x0C204000, 0}, &fallback},
        {"no pair, no default", withoutDefault, {0x0C204000, 0}, nullptr},
        {"an unset subject matches no CPU", withoutDefault, {0, 0}, nullptr},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const PlatformListEntry* found = firstMatch(k.subject, k.list);
        if (!k.value) {
            EXPECT_EQ(found, nullptr);
        } else {
            ASSERT_NE(found, nullptr);
            EXPECT_EQ(found->value, k.value);
        }
    }
}

struct Row {
    std::uint32_t cpu;
    std::uint32_t machine;
    const char16_t* name;
};

// The supported platforms, as the user sees them.
const Row expectedRows[PLATFORM_NAME_COUNT] = {
    {0x0C000000, 0x00000000, u"ARM"},
    {0x0C100000, 0x00000000, u"ARM STRONGARM"},
    {0x0C104000, 0x00000000, u"ARM STRONGARM SA1100"},
    {0x0C108000, 0x00000000, u"ARM STRONGARM SA1110"},
    {0x0C200000, 0x00000000, u"ARM XSCALE"},
    {0x0C204000, 0x00000000, u"ARM XSCALE PXA250"},
    {0x0C208000, 0x00000000, u"ARM XSCALE PXA270"},
    {0x00000000, 0x00C00000, u"CASIO"},
    {0x00000000, 0x01000000, u"Sharp"},
    {0x00000000, 0x01040000, u"Sharp WZERO3"},
    {0x0C208000, 0x01040100, u"Sharp W-ZERO3 (WS003SH)"},
    {0x0C208000, 0x01040200, u"Sharp W-ZERO3 (WS004SH)"},
    {0x0C208000, 0x01040300, u"Sharp W-ZERO3[es] (WS007SH)"},
    {0x0C208000, 0x01040400, u"Sharp Advanced/W-ZERO3[es] (WS011SH)"},
    {0x0C208000, 0x01040500, u"Sharp WILLCOM 03 (WS020SH)"},
    {0x00000000, 0x01C00000, u"Compaq"},
    {0x00000000, 0x01C40000, u"Compaq iPAQ"},
    {0x00000000, 0x01C40100, u"Compaq iPAQ H31XX"},
    {0x0C108000, 0x01C40101, u"Compaq iPAQ H3100"},
    {0x00000000, 0x01C40200, u"Compaq iPAQ H36XX"},
    {0x0C108000, 0x01C40201, u"Compaq iPAQ H3600"},
    {0x0C108000, 0x01C40202, u"Compaq iPAQ H3660"},
    {0x00000000, 0x01C40300, u"Compaq iPAQ H39XX"},
    {0x0C204000, 0x01C40301, u"Compaq iPAQ H3900"},
    {0x00000000, 0x02C00000, u"HP"},
    {0x00000000, 0x02C20000, u"HP Jornada"},
    {0x00000000, 0x02C20200, u"HP Jornada 7XX"},
    {0x0C108000, 0x02C20201, u"HP Jornada 720 (US/UK)"},
    {0x0C108000, 0x02C20202, u"HP Jornada 720 (Japanese)"},
    {0x0C108000, 0x02C20203, u"HP Jornada 720 (European)"},
    {0x0C108000, 0x02C20204, u"HP Jornada 720 (German)"},
    {0x0C108000, 0x02C20205, u"HP Jornada 720 (French)"},
    {0x0C108000, 0x02C20206, u"HP Jornada 720 (Scandinavian)"},
    {0x0C108000, 0x02C20207, u"HP Jornada 720 (Spanish)"},
    {0x00000000, 0x02C20300, u"HP Jornada 8XX"},
    {0x0C104000, 0x02C20301, u"HP Jornada 820"},
    {0x0C104000, 0x02C20302, u"HP Jornada 820 (Japanese)"},
    {0x00000000, 0x04000000, u"PSIONTEKLOGIX"},
    {0x00000000, 0x04010000, u"PSIONTEKLOGIX NETBOOK"},
    {0x0C204000, 0x04010100, u"PSIONTEKLOGIX NETBOOK PRO"},
    {0x00000000, 0x01020000, u"Sharp Zaurus"},
    {0x0C108000, 0x01020100, u"Sharp Zaurus SL-5500 (collie)"},
    {0x0C204000, 0x01020200, u"Sharp Zaurus SL-6000 (tosa)"},
    {0x0C208000, 0x01020300, u"Sharp Zaurus SL-C3000 (spitz)"},
};

TEST(PlatformNameTable, HoldsEveryPlatformAndEachNamesItself) {
    std::set<std::pair<std::uint32_t, std::uint32_t>> ids;
    for (int i = 0; i < PLATFORM_NAME_COUNT; ++i) {
        SCOPED_TRACE(i);
        const PlatformName& row = platformNameTable[i];
        ASSERT_NE(row.id, nullptr);
        EXPECT_EQ(row.id->cpu, expectedRows[i].cpu);
        EXPECT_EQ(row.id->machine, expectedRows[i].machine);
        EXPECT_EQ(std::u16string(row.name), expectedRows[i].name);
        EXPECT_EQ(std::u16string(platformName(*row.id)), expectedRows[i].name);
        ids.insert({row.id->cpu, row.id->machine});
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(PLATFORM_NAME_COUNT));
}

TEST(PlatformNameTable, CpuFamilyIdsAreItsModelRows) {
    EXPECT_EQ(platformNameTable[2].id, &PLATFORM_SA1100);
    EXPECT_EQ(platformNameTable[3].id, &PLATFORM_SA1110);
    EXPECT_EQ(platformNameTable[5].id, &PLATFORM_PXA250);
    EXPECT_EQ(platformNameTable[6].id, &PLATFORM_PXA270);
    EXPECT_EQ(PLATFORM_ANY, (PlatformId{0, 0}));
    EXPECT_EQ(PLATFORM_UNSET, (PlatformId{0, 0}));
}

// Linux's numbers (its mach-types) for the machines it knows; families and the
// machines Linux never numbered have none.
TEST(PlatformNameTable, CarriesLinuxMachineNumbers) {
    struct Case {
        const char16_t* name;
        std::uint32_t number;
    };
    const Case cases[] = {
        {u"Compaq iPAQ H3600", 22},          {u"Compaq iPAQ H3660", 22},
        {u"Compaq iPAQ H3100", 136},         {u"HP Jornada 720 (German)", 48},
        {u"Sharp Zaurus SL-5500 (collie)", 146}, {u"Sharp Zaurus SL-6000 (tosa)", 520},
        {u"Sharp Zaurus SL-C3000 (spitz)", 713}, {u"Compaq iPAQ H3900", NO_MACHINE_NUMBER},
        {u"Sharp W-ZERO3 (WS003SH)", NO_MACHINE_NUMBER}, {u"HP Jornada 7XX", NO_MACHINE_NUMBER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name, c.name + std::char_traits<char16_t>::length(c.name)));
        const PlatformName* row = nullptr;
        for (const PlatformName& r : platformNameTable)
            if (std::u16string(r.name) == c.name) row = &r;
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(row->linuxMachine, c.number);
        EXPECT_EQ(linuxMachineNumber(*row->id), c.number);
    }
    EXPECT_EQ(linuxMachineNumber(PlatformId{0x0C108000, 0x01C40299}), NO_MACHINE_NUMBER);
}

TEST(PlatformName, NamesTheBestRow) {
    struct Case {
        PlatformId subject;
        const char16_t* name;
    } cases[] = {
        {{0, 0}, u"UNKNOWN"},
        {{0x0C208000, 0x01040100}, u"Sharp W-ZERO3 (WS003SH)"},
        // A Jornada 720 without a row: "ARM STRONGARM SA1110" and "HP Jornada 7XX" tie.
        {{0x0C108000, 0x02C20209}, u"ARM STRONGARM SA1110"},
        {{0x0C208000, 0x01040900}, u"ARM XSCALE PXA270"},
        {{0, 0x01C40203}, u"Compaq iPAQ H36XX"},
        {{0x0C204000, 0x02000000}, u"ARM XSCALE PXA250"},
        {{0x10000000, 0}, u"UNKNOWN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.subject.cpu << "/" << c.subject.machine);
        EXPECT_EQ(std::u16string(platformName(c.subject)), c.name);
    }
}

TEST(PlatformByteOrder, NetworkOrderIsBigEndianAndBack) {
    PlatformId id = {0x0C208000, 0x01040100};
    platformToNetwork(id);
    unsigned char bytes[8];
    std::memcpy(bytes, &id, sizeof bytes);
    const unsigned char expected[8] = {0x0C, 0x20, 0x80, 0x00, 0x01, 0x04, 0x01, 0x00};
    EXPECT_EQ(0, std::memcmp(bytes, expected, sizeof bytes));
    platformToHost(id);
    EXPECT_EQ(id, (PlatformId{0x0C208000, 0x01040100}));
}

}  // namespace
