// Host files linked into the simulated device for one run: read as the device's own
// files at their device path, listed in their folder, and never written, deleted or
// renamed through the device.
#include <gtest/gtest.h>

#include <string>

#include "platform/coredll.h"
#include "support/device.h"
#include "support/test_data.h"

using namespace ce;
using testing_support::TempDir;
using testing_support::TestDevice;

namespace {

TEST(LinkedFiles, ReadLikeTheDevicesOwnAndStayUnchanged) {
    TempDir host;
    const std::string bytes = testing_support::randomData(200000, 7);
    testing_support::writeHostFile(host.path() / "k.gz", bytes);
    sim::DeviceSettings settings;
    settings.linkedFiles[u"\\Storage Card\\k.gz"] = host.path() / "k.gz";
    TestDevice device(settings);
    device.writeFile("Storage Card/own.txt", "the device's own");

    // Any case, either separator, as the device's own names.
    HANDLE file = CreateFileW(u"/storage card/K.GZ", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    std::string read(bytes.size() + 10, '\0');
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(file, read.data(), static_cast<DWORD>(read.size()), &got, nullptr));
    read.resize(got);
    EXPECT_EQ(read, bytes);
    CloseHandle(file);

    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(u"\\Storage Card\\*", &found);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    std::u16string names;
    do {
        names += std::u16string(found.cFileName) + u";";
        if (std::u16string(found.cFileName) == u"k.gz") {
            EXPECT_EQ(found.nFileSizeLow, bytes.size());
        }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    EXPECT_EQ(names, u"own.txt;k.gz;");

    for (DWORD creation : {DWORD(CREATE_ALWAYS), DWORD(CREATE_NEW), DWORD(TRUNCATE_EXISTING), DWORD(OPEN_EXISTING)}) {
        SCOPED_TRACE(creation);
        EXPECT_EQ(CreateFileW(u"\\Storage Card\\k.gz", GENERIC_WRITE, 0, nullptr, creation, 0, nullptr),
                  INVALID_HANDLE_VALUE);
    }
    EXPECT_FALSE(DeleteFileW(u"\\Storage Card\\k.gz"));
    EXPECT_FALSE(MoveFileW(u"\\Storage Card\\k.gz", u"\\Storage Card\\moved"));
    EXPECT_FALSE(MoveFileW(u"\\Storage Card\\own.txt", u"\\Storage Card\\k.gz"));
    EXPECT_EQ(testing_support::readHostFile(host.path() / "k.gz"), bytes);
    EXPECT_FALSE(std::filesystem::exists(device.card() / "k.gz")) << "a copy was made on the card";
}

}  // namespace
