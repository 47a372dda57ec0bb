// The boot attempt driven against component doubles: stage order, the failure of
// each stage, the requested memory, the last-chance question and repeated attempts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hardware/cpu_models.h"
#include "boot/boot_menu.h"
#include "boot/boot_sequence.h"
#include "console/console.h"
#include "platform/coredll.h"
#include "sim/utf.h"
#include "support/case_names.h"
#include "support/component_doubles.h"
#include "support/device.h"
#include "support/log_capture.h"
#include "support/page_link_walker.h"

using namespace quorvel;
using testing_support::DoubleBootContext;
using testing_support::LogCapture;
using testing_support::CapturingConsole;
using testing_support::RecordingMainWindow;
using testing_support::Script;
using testing_support::TestDevice;

namespace {

const std::string KERNEL = std::string("\x7f" "ELF\x01\x01\x01", 7) + std::string(200, '\0');

void copy(ce::WCHAR (&to)[PATH_SIZE], const std::u16string& from) {
    ASSERT_LT(from.size(), PATH_SIZE);
    std::copy(from.begin(), from.end(), to);
    to[from.size()] = 0;
}

// A simulated handheld with the doubles of one attempt, the log and the main window.
struct Rig {
    Rig() {
        setConsole(nullptr);
        BootMenu& menu = theBootMenu();
        copy(menu.kernelDirectory, u"\\Storage Card\\");
        copy(menu.kernelName, u"tamsel.gz");
        copy(menu.fileSystemImage, u"miniroot.fs");
        menu.rootFileSystem = ROOT_WD;
        menu.serialConsole = 0;
        menu.pauseBeforeBoot = 0;
        menu.extraKernelOptions[0] = 0;
        menu.platform = {CPU_WORD_SA1110, 0x02C20201};
        context.settings.files = {{u"tamsel.gz", KERNEL}, {u"miniroot.fs", std::string(8192, 'm')}};
        context.settings.console = lcdConsole();
        device->messageBoxes().setPolicy([this](const sim::MessageBoxRecord& box) {
            script.note("box " + sim::toUtf8(box.caption));
            if (box.caption == u"BOOT FAILED")
                fileOpenAtFailure = context.fileManagerSlot && context.fileDouble()->isOpen();
            return (box.type & ce::MB_TYPEMASK) == ce::MB_YESNO ? questionAnswer : ce::IDOK;
        });
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    void useImage() { theBootMenu().rootFileSystem = ROOT_MD; }

    // The labels of "[progress] %S\n", in order.
    std::vector<std::string> labels() const {
        std::vector<std::string> found;
        const std::u16string prefix = u"[progress] ";
        for (const std::u16string& entry : log.entries())
            if (entry.compare(0, prefix.size(), prefix) == 0 && entry.back() == u'\n')
                found.push_back(sim::toUtf8(entry.substr(prefix.size(), entry.size() - prefix.size() - 1)));
        return found;
    }

    std::vector<sim::MessageBoxRecord> failureBoxes() {
        std::vector<sim::MessageBoxRecord> found;
        for (const sim::MessageBoxRecord& box : device->messageBoxes().shown())
            if (box.caption == u"BOOT FAILED") found.push_back(box);
        return found;
    }

    TestDevice device;
    // The boot sequence opens COM1 on this device: the console globals go with the
    // rig, before the device does.
    struct ConsoleRelease {
        ~ConsoleRelease() { releaseConsole(); }
    } consoleRelease;
    LogCapture log;
    Script script;
    RecordingMainWindow window{&script};
    DoubleBootContext context{script};
    int questionAnswer = ce::IDYES;
    bool fileOpenAtFailure = false;
};

std::vector<std::string> labelsUpTo(int last) {
    std::vector<std::string> all;
    for (int i = 0; i <= last; ++i) all.push_back(std::to_string(i));
    return all;
}

class BootSequenceTest : public ::testing::Test {
protected:
    Rig rig;
    TestDevice& device = rig.device;
    LogCapture& log = rig.log;
    Script& script = rig.script;
    RecordingMainWindow& window = rig.window;
    DoubleBootContext& context = rig.context;
    std::vector<std::string> labels() const { return rig.labels(); }
    std::vector<sim::MessageBoxRecord> failureBoxes() { return rig.failureBoxes(); }
};

TEST_F(BootSequenceTest, DrivesTheComponentsStageByStageUpToTheJump) {
    runBootSequence(context);

    const std::vector<std::string> expected = {
        "window.progress", "context.setup",
        "window.progress", "context.create",
        "window.progress", "arch.init", "arch.reportSystem",
        "window.progress", "files.setLocation \\Storage Card\\",
        "window.progress", "files.open tamsel.gz",
        "window.progress", "context.makeLoader", "loader.attachFile",
        "window.progress", "loader.neededMemory",
        "window.progress", "arch.placeSecondStage",
        "window.progress", "loader.load",
        "window.progress", "files.close", "loader.entryAddress",
        "window.progress", "arch.jump",
        // The double's jump comes back, which is a failure with one more close.
        "files.close", "box BOOT FAILED", "window.progressDone",
    };
    EXPECT_EQ(script.calls, expected);
    EXPECT_EQ(labels(), labelsUpTo(10));

    ASSERT_EQ(failureBoxes().size(), 1u);
    EXPECT_EQ(failureBoxes()[0].text, u"Can't jump to the kernel.\n");
    EXPECT_EQ(failureBoxes()[0].owner, RecordingMainWindow::HANDLE);
    EXPECT_EQ(failureBoxes()[0].type, 0x10u);

    // The jump got the boot information page and the head of the page links.
    EXPECT_EQ(context.architectureDouble()->jumpPageLink, context.loader->linkHead());
    EXPECT_NE(context.architectureDouble()->jumpPageLink, NO_ADDRESS);
    EXPECT_EQ(context.architectureDouble()->jumpParameterPage,
              device->addressSpace().physicalOf(context.architecture->bootInfoPage)->value());
    EXPECT_EQ(window.position, 0);
}

TEST_F(BootSequenceTest, WithAnImageTheImageIsSizedThenAppendedBehindTheKernel) {
    std::string image(8192, '\0');
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<char>(i % 251);
    context.settings.files[u"miniroot.fs"] = image;
    rig.useImage();
    runBootSequence(context);
    EXPECT_EQ(script.matching("files."),
              (std::vector<std::string>{"files.setLocation \\Storage Card\\", "files.open miniroot.fs", "files.close",
                                        "files.open tamsel.gz", "files.close", "files.open miniroot.fs",
                                        "files.close", "files.close"}));
    ASSERT_EQ(failureBoxes().size(), 1u);
    EXPECT_EQ(failureBoxes()[0].text, u"Can't jump to the kernel.\n");

    // Performed as the second-stage loader would, the list puts the kernel in place and
    // the image on the first 4096-byte boundary above it.
    testing_support::PageLinkWalk walk =
        testing_support::walkPageLinks(device->memory(), context.architectureDouble()->jumpPageLink);
    ASSERT_TRUE(walk.ok) << walk.error;
    EXPECT_EQ(testing_support::readPhysical(device->memory(), 0xC0008000, 6), "kernel");
    EXPECT_EQ(testing_support::readPhysical(device->memory(), 0xC0009000, 8192), image);
    EXPECT_EQ(walk.lastEnd, 0xC000B000u);
}

using testing_support::PrintTo;
struct FailureCase {
    const char* name;
    void (*arrange)(Rig&);
    bool image;
    const char16_t* message;
    int lastLabel;
    int closes;
};

class BootSequenceFailure : public BootSequenceTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(BootSequenceFailure, ShowsOneBoxNamingTheStageWithNoFileLeftOpen) {
    const FailureCase& c = GetParam();
    if (c.image) rig.useImage();
    c.arrange(rig);

    runBootSequence(context);

    std::vector<sim::MessageBoxRecord> boxes = failureBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, c.message);
    EXPECT_EQ(boxes[0].owner, RecordingMainWindow::HANDLE);
    EXPECT_EQ(boxes[0].type, 0x10u);
    EXPECT_EQ(labels(), labelsUpTo(c.lastLabel));
    EXPECT_EQ(script.count("files.close"), c.closes);
    EXPECT_FALSE(rig.fileOpenAtFailure);
    // The bar goes back to 0 after the box.
    ASSERT_GE(script.calls.size(), 2u);
    EXPECT_EQ(script.calls[script.calls.size() - 2], "box BOOT FAILED");
    EXPECT_EQ(script.calls.back(), "window.progressDone");
    EXPECT_EQ(window.position, 0);
    bool jumped = c.lastLabel == 10 && std::u16string(c.message) != u"Canceled by user.\n";
    EXPECT_EQ(script.count("arch.jump"), jumped ? 1 : 0);
}

const FailureCase failureCases[] = {
    {"Setup", [](Rig& r) { r.script.fail("context.setup"); }, false,
     u"Architecture not supported.\n", 0, 0},
    {"Create", [](Rig& r) { r.script.fail("context.create"); }, false,
     u"Architecture ops. not found.\n", 1, 0},
    {"Init", [](Rig& r) { r.script.fail("arch.init"); }, false,
     u"Architecture initialize failed.\n", 2, 0},
    {"SetLocation", [](Rig& r) { r.script.fail("files.setLocation \\Storage Card\\"); },
     false, u"Can't set root directory.\n", 3, 0},
    {"ImageOpen", [](Rig& r) { r.script.fail("files.open miniroot.fs", 0); }, true,
     u"Can't open file system image.\n", 3, 0},
    {"KernelOpen", [](Rig& r) { r.script.fail("files.open tamsel.gz"); }, true,
     u"Can't open kernel image.\n", 4, 1},
    {"ChooseLoader", [](Rig& r) { r.script.fail("context.makeLoader"); }, false,
     u"Can't attach loader.\n", 5, 1},
    {"AttachFile", [](Rig& r) { r.script.fail("loader.attachFile"); }, false,
     u"Can't initialize loader.\n", 5, 1},
    {"ReserveMemory", [](Rig& r) { r.device->faults().failAlways("VirtualAlloc"); },
     false, u"Can't allocate memory.\n", 6, 1},
    {"PlaceSecondStage", [](Rig& r) { r.script.fail("arch.placeSecondStage"); },
     false, u"Can't set up loader.\n", 7, 1},
    {"Load", [](Rig& r) { r.script.fail("loader.load"); }, false,
     u"Can't load kernel image to memory.\n", 8, 1},
    {"ImageReopen", [](Rig& r) { r.script.fail("files.open miniroot.fs", 1); }, true,
     u"Can't open file system image.\n", 9, 2},
    // The pool keeps only the link head and the kernel's page: the image finds none.
    {"LoadImage", [](Rig& r) { r.context.settings.leavePages = 2; }, true,
     u"Can't load file system image to memory.\n", 9, 3},
    // Nothing is left for the boot information page.
    {"ParameterPage", [](Rig& r) { r.context.settings.leavePages = 2; }, false,
     u"Can't set up boot information.\n", 9, 1},
    {"Canceled",
     [](Rig& r) {
         theBootMenu().pauseBeforeBoot = 1;
         r.questionAnswer = ce::IDNO;
     },
     false, u"Canceled by user.\n", 10, 1},
    {"JumpReturned", [](Rig&) {}, false, u"Can't jump to the kernel.\n", 10, 2},
};

INSTANTIATE_TEST_SUITE_P(Stages, BootSequenceFailure, ::testing::ValuesIn(failureCases),
                         ::testing::PrintToStringParamName());

TEST_F(BootSequenceTest, WithoutAPageForTheBootInformationTheAttemptFailsBeforeTheJump) {
    context.settings.leavePages = 2;
    runBootSequence(context);
    EXPECT_TRUE(log.contains(u"no page left for the boot information.\n")) << log.utf8();
    EXPECT_EQ(script.count("arch.jump"), 0);
    EXPECT_EQ(script.count("loader.entryAddress"), 0);
}

// Pool pages looked up by buildPool show the request: 16 pages up to 48960 bytes,
// 32 pages from one byte more.
struct SizeCase {
    std::uint32_t kernel;
    bool image;
    std::uint32_t imageSize;
    int poolPages;
};

TEST(BootSequenceSizes, RequestsWholePagesOfKernelAndImage) {
    const SizeCase cases[] = {
        {45056, false, 0, 16},       // exactly 11 pages: not rounded up once more
        {45057, false, 0, 32},       // one byte more: 12 pages
        {1, true, 45056, 32},        // one byte of kernel counts as a page
        {0, true, 45057, 32},        // the image is rounded up as well
        {45056, false, 900000, 16},  // an image that is not used is not opened
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "kernel " << c.kernel << " image " << c.image << " " << c.imageSize);
        Rig r;
        if (c.image) r.useImage();
        r.context.settings.files[u"miniroot.fs"] = std::string(c.imageSize, 'm');
        r.context.settings.neededMemory = c.kernel;
        runBootSequence(r.context);
        ASSERT_NE(r.context.memoryDouble(), nullptr);
        EXPECT_EQ(r.context.memoryDouble()->lookups, c.poolPages);
        EXPECT_EQ(r.script.count("files.open miniroot.fs"), c.image ? 2 : 0);
        ASSERT_EQ(r.failureBoxes().size(), 1u);
        EXPECT_EQ(r.failureBoxes()[0].text, u"Can't jump to the kernel.\n");
    }
}

TEST(BootSequenceSizes, ARequestBeyondFourGigabytesIsRefusedNotWrapped) {
    const std::uint32_t kernels[] = {0xFFFFFFFFu, 0xFFFFF000u};
    for (std::uint32_t kernel : kernels) {
        SCOPED_TRACE(kernel);
        Rig r;
        r.useImage();
        r.context.settings.neededMemory = kernel;
        runBootSequence(r.context);
        EXPECT_EQ(r.context.memoryDouble()->lookups, 0);
        EXPECT_TRUE(r.log.contains(u"can't reserve memory for 0xffffffff bytes.\n")) << r.log.utf8();
        ASSERT_EQ(r.failureBoxes().size(), 1u);
        EXPECT_EQ(r.failureBoxes()[0].text, u"Can't allocate memory.\n");
        EXPECT_EQ(r.script.count("files.close"), 2);
    }
}

TEST_F(BootSequenceTest, LastChanceYesRepaintsTheWindowAndJumps) {
    theBootMenu().pauseBeforeBoot = 1;
    runBootSequence(context);
    const std::vector<sim::MessageBoxRecord>& shown = device->messageBoxes().shown();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].text, u"Push YES to boot.");
    EXPECT_EQ(shown[0].caption, u"Last chance...");
    EXPECT_EQ(shown[0].type, 0x34u);
    EXPECT_EQ(shown[0].owner, RecordingMainWindow::HANDLE);
    EXPECT_EQ(device->updatedWindows(), std::vector<std::uintptr_t>{RecordingMainWindow::HANDLE});
    std::vector<std::string> tail(script.calls.end() - 5, script.calls.end());
    EXPECT_EQ(tail, (std::vector<std::string>{"box Last chance...", "arch.jump", "files.close", "box BOOT FAILED",
                                              "window.progressDone"}));
}

TEST_F(BootSequenceTest, LastChanceAnythingButYesCancels) {
    theBootMenu().pauseBeforeBoot = 1;
    for (int answer : {ce::IDNO, ce::IDCANCEL, ce::IDOK}) {
        SCOPED_TRACE(answer);
        device->messageBoxes().clear();
        script.calls.clear();
        rig.questionAnswer = answer;
        runBootSequence(context);
        ASSERT_EQ(device->messageBoxes().shown().size(), 2u);
        EXPECT_EQ(device->messageBoxes().shown()[1].text, u"Canceled by user.\n");
        EXPECT_EQ(script.count("arch.jump"), 0);
        EXPECT_TRUE(device->updatedWindows().empty());
    }
}

TEST_F(BootSequenceTest, WithoutPauseNoQuestionIsAsked) {
    runBootSequence(context);
    for (const sim::MessageBoxRecord& box : device->messageBoxes().shown()) EXPECT_NE(box.caption, u"Last chance...");
    EXPECT_EQ(script.count("arch.jump"), 1);
}

TEST_F(BootSequenceTest, ASecondAttemptStartsAgainFromTheFirstStage) {
    script.fail("arch.init", 0);
    runBootSequence(context);
    EXPECT_EQ(labels(), labelsUpTo(2));
    log.clear();

    runBootSequence(context);
    EXPECT_EQ(labels(), labelsUpTo(10));
    EXPECT_EQ(script.count("context.setup"), 2);
    EXPECT_EQ(script.count("context.create"), 2);
    ASSERT_EQ(failureBoxes().size(), 2u);
    EXPECT_EQ(failureBoxes()[0].text, u"Architecture initialize failed.\n");
    EXPECT_EQ(failureBoxes()[1].text, u"Can't jump to the kernel.\n");
    EXPECT_EQ(window.resets, 2);
    EXPECT_EQ(window.steps, 3 + 11);
}

TEST_F(BootSequenceTest, OpensCom1WithItsBannerWhateverTheConsoleOption) {
    script.fail("context.setup");
    runBootSequence(context);
    EXPECT_TRUE(device->com1().open);
    EXPECT_EQ(device->com1().sent(), std::string("\r\n--------QUORVEL--------\r\n", 28));
}

TEST_F(BootSequenceTest, NamesTheBuildAndThePlatformThroughTheAttemptsConsole) {
    struct Case {
        PlatformId platform;
        std::u16string line;
    };
    const Case cases[] = {
        {{CPU_WORD_SA1110, 0x02C20201}, u"HP Jornada 720 (US/UK) (cpu=0x0c108000 machine=0x02c20201)\n"},
        // Not a selectable platform: still booted, logged under the first name.
        {{CPU_WORD_SA1110, 0x02C20209}, u"Sharp W-ZERO3 (WS003SH) (cpu=0x0c108000 machine=0x02c20209)\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(sim::toUtf8(c.line));
        CapturingConsole console;
        Script s;
        DoubleBootContext ctx{s};
        ctx.settings.files = context.settings.files;
        ctx.settings.console = &console;
        theBootMenu().platform = c.platform;
        runBootSequence(ctx);
        ASSERT_GE(console.lines.size(), 2u);
        EXPECT_EQ(console.lines[0], u"quorvel build number: 16\n");
        EXPECT_EQ(console.lines[1], c.line);
        EXPECT_EQ(s.count("arch.jump"), 1);
    }
}

}  // namespace
