// A handheld with its window system for one test: a full-screen window of a class
// that records every message, dialogs from the windres-compiled test resources, taps
// and keys delivered at once, and pixels read back from the LCD frame.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/coredll.h"
#include "sim/resources/resource_file.h"
#include "sim/screen/png_writer.h"
#include "sim/windows/controls.h"
#include "sim/windows/painter.h"
#include "sim/windows/window_system.h"
#include "support/device.h"
#include "support/test_data.h"

namespace windows_test {

using namespace ce;

struct Received {
    HWND window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    UINT code;  // WM_NOTIFY's code, WM_COMMAND's notification
    int id;     // WM_COMMAND's and WM_NOTIFY's control id
};

inline std::vector<Received>& received() {
    static std::vector<Received> log;
    return log;
}

inline Received record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Received r{window, message, wParam, lParam, 0, 0};
    if (message == WM_COMMAND) {
        r.id = LOWORD(wParam);
        r.code = HIWORD(wParam);
    } else if (message == WM_NOTIFY && lParam) {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        r.id = static_cast<int>(header->idFrom);
        r.code = header->code;
    }
    received().push_back(r);
    return r;
}

inline LRESULT recorderProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    record(window, message, wParam, lParam);
    return DefWindowProcW(window, message, wParam, lParam);
}

inline BOOL recordingDialogProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    record(dialog, message, wParam, lParam);
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

// RGB565 pixels as 8-bit components.
struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
inline std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "rgb(" << c.r << ", " << c.g << ", " << c.b << ")";
}
constexpr Rgb WHITE_PIXEL{248, 252, 248};
constexpr Rgb GREY_PIXEL{192, 192, 192};
constexpr Rgb NAVY_PIXEL{0, 0, 128};

class ScreenTest : public ::testing::Test {
protected:
    explicit ScreenTest(sim::DeviceSettings settings = {}) : device_(settings), ws(device_->windows()) {}

    void SetUp() override {
        received().clear();
        WNDCLASSW c{};
        c.lpfnWndProc = recorderProcedure;
        c.cbWndExtra = 4;
        c.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
        c.lpszClassName = u"Recorder";
        ASSERT_NE(RegisterClassW(&c), 0);
        main = CreateWindowExW(0, u"Recorder", u"main", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                               nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(main, nullptr);
        received().clear();
    }

    // A dialog of the test resources, shown as a child of the main window.
    HWND dialog(const char16_t* name, LPARAM parameter = 0) {
        static const std::string bytes = testing_support::readHostFile(QUORVEL_WINDOWS_TEST_RES);
        sim::ResourceFile file;
        EXPECT_TRUE(file.load(bytes.data(), bytes.size()));
        const sim::ResourceEntry* entry = file.find(sim::RESOURCE_DIALOG, std::u16string_view(name));
        EXPECT_NE(entry, nullptr);
        if (!entry) return nullptr;
        // A copy of exactly the template's size, so that a read past it is caught.
        templates_.emplace_back(entry->data, entry->data + entry->size);
        HWND d = ws.createDialog(templates_.back().data(), templates_.back().size(), main, recordingDialogProcedure, parameter,
                                 nullptr);
        if (d) {
            MoveWindow(d, 0, 0, 400, 220, TRUE);
            ShowWindow(d, SW_SHOW);
        }
        return d;
    }

    POINT centre(HWND window) {
        RECT r = ws.screenRect(window);
        return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    }
    void tapOn(HWND window) {
        POINT p = centre(window);
        tapAt(p.x, p.y);
    }
    void tapAt(int x, int y) {
        ws.tap(x, y);
        ws.pump();
    }
    void press(int vk) {
        ws.key(vk);
        ws.pump();
    }
    void shiftPress(int vk) {
        ws.keyDown(VK_SHIFT);
        ws.key(vk);
        ws.keyUp(VK_SHIFT);
        ws.pump();
    }
    void typeText(const std::u16string& text) {
        ws.type(text);
        ws.pump();
    }

    std::vector<Received> messagesTo(HWND window, UINT message) const {
        std::vector<Received> out;
        for (const Received& r : received())
            if (r.window == window && r.message == message) out.push_back(r);
        return out;
    }

    std::u16string textOf(HWND window) {
        WCHAR buffer[512];
        GetWindowTextW(window, buffer, 512);
        return buffer;
    }

    Rgb pixel(int x, int y) {
        ws.paint();
        sim::FrameBuffer f = ws.frame();
        std::uint16_t p;
        std::memcpy(&p, f.pixels + y * f.lineBytes + x * 2, 2);
        return {((p >> 11) & 0x1F) << 3, ((p >> 5) & 0x3F) << 2, (p & 0x1F) << 3};
    }

    // Writes the screen as PNG beside the test binary's build files, to look at.
    void screenshot(const std::string& name) {
        ws.paint(true);
        sim::writePng(ws.frame(), std::string(QUORVEL_TEST_OUTPUT) + "/" + name + ".png");
    }

    testing_support::TestDevice device_;
    sim::WindowSystem& ws;
    HWND main = nullptr;

private:
    std::vector<std::vector<std::uint8_t>> templates_;
};

}  // namespace windows_test
