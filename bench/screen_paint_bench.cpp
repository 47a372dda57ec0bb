// Painting the handheld's screen: one full repaint of a page of controls, and a log
// line appended to a multi-line edit the way the console page appends (select the
// end, replace, scroll, repaint), measured as the log grows.
#include <cstdio>
#include <string>

#include "best_of.h"
#include "platform/coredll.h"
#include "sim/windows/window_system.h"
#include "support/device.h"

using namespace ce;

namespace {

HWND child(HWND parent, const char16_t* cls, const char16_t* text, DWORD style, int x, int y, int w, int h) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, parent, nullptr, nullptr, nullptr);
}

LRESULT plain(HWND window, UINT message, WPARAM wParam, LPARAM lParam) { return DefWindowProcW(window, message, wParam, lParam); }

}  // namespace

int main() {
    testing_support::TestDevice device;
    sim::WindowSystem& ws = device->windows();
    WNDCLASSW c{};
    c.lpfnWndProc = plain;
    c.lpszClassName = u"Bench";
    RegisterClassW(&c);
    HWND main = CreateWindowExW(0, u"Bench", u"", WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                nullptr, nullptr, nullptr);
    child(main, u"BUTTON", u"Boot", BS_PUSHBUTTON, 0, 0, 75, 26);
    child(main, u"msctls_progress32", u"", PBS_SMOOTH, 75, 0, 490, 26);
    child(main, u"BUTTON", u"Cancel", BS_PUSHBUTTON, 565, 0, 75, 26);
    for (int i = 0; i < 12; ++i) {
        HWND box = child(main, u"BUTTON", u"boot verbosely", BS_AUTOCHECKBOX, 30 + (i % 2) * 200, 40 + (i / 2) * 20, 180, 16);
        SendMessageW(box, BM_SETCHECK, i % 2, 0);
    }
    for (int i = 0; i < 4; ++i) child(main, u"EDIT", u"\\Storage Card\\tamsel.gz", WS_BORDER, 430, 40 + i * 24, 200, 20);

    bench::Result full = bench::best([&] {
        for (int i = 0; i < 100; ++i) ws.paint(true);
        return bench::Result{};
    });
    std::printf("full repaint of a page of 19 controls, 640 x 240: %.2f ms\n", full.seconds * 1000 / 100);
    std::printf("row|full repaint of a page of 19 controls, 640x240|%.2f ms|-|-\n", full.seconds * 1000 / 100);

    HWND log = child(main, u"EDIT", u"", WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_AUTOVSCROLL | ES_WANTRETURN, 30, 170, 600, 60);
    const std::u16string line = u"[progress] 3: loading kernel segment at 0xc0008000\r\n";
    for (int lines : {100, 1000, 5000}) {
        bench::Result r = bench::best(
            [&] {
                SetWindowTextW(log, u"");
                for (int i = 0; i < lines; ++i) {
                    int n = GetWindowTextLengthW(log);
                    SendMessageW(log, EM_SETSEL, n, n);
                    SendMessageW(log, EM_REPLACESEL, 0, reinterpret_cast<LPARAM>(line.c_str()));
                    SendMessageW(log, EM_SCROLLCARET, 0, 0);
                    UpdateWindow(log);
                }
                return bench::Result{};
            },
            3);
        std::printf("log of %d lines, each appended and repainted: %.3f s (%.2f ms a line)\n", lines, r.seconds,
                    r.seconds * 1000 / lines);
        std::printf("row|log of %d lines, each appended and repainted|%.2f ms a line|-|-\n", lines, r.seconds * 1000 / lines);
    }
    return 0;
}
