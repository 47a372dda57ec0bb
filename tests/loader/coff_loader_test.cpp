// The COFF placeholder: it refuses every file, but lays text, data and bss out from
// its header fields with the same page links as ELF.
#include <gtest/gtest.h>

#include "loader/coff_loader.h"
#include "loader_fixture.h"

using quorvel::CoffLoader;

namespace {

class CoffLoaderTest : public LoaderTest {
protected:
    CoffLoader& loader() {
        if (!loader_) loader_ = std::make_unique<CoffLoader>(consoleSlot, memoryManagerSlot);
        return *loader_;
    }
    std::unique_ptr<CoffLoader> loader_;
};

TEST_F(CoffLoaderTest, AnnouncesItselfAndRefusesEveryFile) {
    for (const std::string& bytes : {std::string(), std::string("\x4c\x01\x03\x00", 4) + std::string(200, '\0'),
                                     testKernel("kernel.elf")}) {
        log.clear();
        loader_.reset();
        serve(bytes);
        EXPECT_EQ(loader().attachFile(fileManagerSlot), 0);
        EXPECT_EQ(logLines(), (std::vector<std::string>{"Loader: COFF\n", "coff loader not implemented.\n"}));
    }
    EXPECT_EQ(loader().fileHeader->f_nscns, 0);
    EXPECT_EQ(loader().aoutHeader->tsize, 0u);
}

TEST_F(CoffLoaderTest, TextFollowsTheHeadersOnASixteenByteBoundary) {
    const struct {
        std::uint16_t sections, optionalHeader;
        std::int16_t versionStamp;
        std::uint32_t offset;
    } cases[] = {
        {3, 28, 22, 176},  // 168 → 168 by 8 → 176 by 16
        {3, 28, 23, 176},
        {0, 28, 22, 48},
        {1, 0, 22, 64},   // 60 → 64
        {2, 28, -1, 128},  // 128 stays
        {0, 0, 23, 32},   // 20 → 32
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sections * 1000 + c.versionStamp);
        loader().fileHeader->f_nscns = c.sections;
        loader().fileHeader->f_opthdr = c.optionalHeader;
        loader().aoutHeader->vstamp = c.versionStamp;
        EXPECT_EQ(loader().textFileOffset(), c.offset);
    }
}

TEST_F(CoffLoaderTest, LaysOutTextDataAndBss) {
    makePool(8);
    std::string file(176, '\0');
    std::string text(5000, '\0'), data(300, '\0');
    for (std::size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>(i * 13);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 5 + 1);
    serve(file + text + data);
    loader().attachFile(fileManagerSlot);
    auto& f = *loader().fileHeader;
    auto& a = *loader().aoutHeader;
    f.f_nscns = 3;
    f.f_opthdr = 28;
    a.vstamp = 22;
    a.tsize = 5000;
    a.dsize = 300;
    a.bsize = 0x800;
    a.entry = 0xC0008010;
    a.text_start = 0xC0008000;
    a.data_start = 0xC000A000;
    paint(0xC0008000, 0x4000);
    log.clear();

    EXPECT_EQ(loader().neededMemory(), 5300u);
    EXPECT_EQ(loader().load(), 1);
    loader().finishLinks();
    EXPECT_EQ(loader().entryAddress(), 0xC0008010u);
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "file size: text 0x1388 + data 0x12c = 0x14b4 byte\n",
                              "[text]",
                              "\t->load 0xc0008000+0x00001388=0xc0009388 ofs=0x000000b0+0x1388\n",
                              "[data]",
                              "\t->load 0xc000a000+0x0000012c=0xc000a12c ofs=0x00001438+0x12c\n",
                              "[bss ]",
                              "\t->load 0xc000a12c+0x00000800=0xc000a92c ofs=0x00000000+0x0\n",
                              "\t->zero 0xc000a12c+0x00000800=0xc000a92c\n",
                              "load link 3, zero clear link 1\n",
                              "kernel entry address: 0xc0008010\n",
                          }));

    const auto walked = walk(loader().linkHead());
    ASSERT_TRUE(walked.ok) << walked.error;
    EXPECT_EQ(physical(0xC0008000, 5000), text);
    EXPECT_EQ(physical(0xC000A000, 300), data);
    EXPECT_EQ(physical(0xC000A12C, 0x800), std::string(0x800, '\0'));
    EXPECT_EQ(physical(0xC000A92C, 4), std::string(4, '\xEE'));
}

}  // namespace
