// What the gzip front's tests share: a simulated handheld whose storage card holds
// the files, and a front with the local backend opened on one of them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "console/console.h"
#include "file/gzip_file_manager.h"
#include "support/device.h"
#include "support/log_capture.h"

namespace gzip_card {

// File names in these tests are ASCII.
inline std::u16string wide(const std::string& text) { return std::u16string(text.begin(), text.end()); }

class GzipCardTest : public ::testing::Test {
protected:
    ~GzipCardTest() override {
        front.reset();
        quorvel::setConsole(nullptr);
    }

    void put(const std::string& name, const std::string& bytes) { device.writeFile("Storage Card/" + name, bytes); }

    quorvel::GzipFileManager& openCard(const std::string& name) {
        front = std::make_unique<quorvel::GzipFileManager>(console, quorvel::FILE_MANAGER_FAT);
        front->setLocation(u"\\Storage Card\\");
        EXPECT_EQ(front->open(wide(name).c_str(), 3), 1) << name;
        return *front;
    }

    testing_support::TestDevice device;
    testing_support::LogCapture log;
    quorvel::Console* console = quorvel::lcdConsole();
    std::unique_ptr<quorvel::GzipFileManager> front;
};

}  // namespace gzip_card
