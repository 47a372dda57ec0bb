// The simulated handheld's window system: classes, the window tree, one message
// queue, timers on a simulated clock, focus and activation, the dialog manager and
// the built-in controls, painted into the LCD frame. The ce:: window calls of the
// host layer forward here; the screen view and tests feed taps and keys in through
// the input entry points below.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/types.h"
#include "sim/screen/frame_buffer.h"

namespace sim {

struct DeviceSettings;
struct ControlState;

struct Window {
    ce::HWND handle = nullptr;
    std::u16string className;
    ce::WNDPROC procedure = nullptr;
    ce::DWORD style = 0;
    ce::DWORD exStyle = 0;
    int id = 0;
    std::u16string text;
    ce::RECT rect{};  // in the parent's client coordinates; the screen's for top-level windows
    ce::HWND parent = nullptr;
    std::vector<ce::HWND> children;  // top of the z-order first; creation order
    std::map<int, ce::LONG_PTR> words;
    int wordBytes = 0;
    ce::LONG_PTR userData = 0;
    ce::HINSTANCE instance = nullptr;
    ce::HBRUSH background = nullptr;
    bool dialog = false;
    ce::DLGPROC dialogProcedure = nullptr;
    ce::HWND dialogFocus = nullptr;  // the control to give the focus back to
    bool ended = false;              // EndDialog was called
    int endResult = 0;
    bool destroying = false;
    bool needsPaint = true;
    std::unique_ptr<ControlState> control;

    bool visibleStyle() const { return (style & ce::WS_VISIBLE) != 0; }
    bool enabledStyle() const { return (style & ce::WS_DISABLED) == 0; }
    bool isChild() const { return (style & ce::WS_CHILD) != 0; }
};

// A bitmap as the resource reader loads it: 32-bit 0xAARRGGBB pixels, top line first.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;
};

struct ImageList {
    int width = 0;
    int height = 0;
    std::vector<Bitmap> images;
};

// One input event: from the scripted input (`quorvel gui --tap/--keys`, tests) and
// from the live view alike. All wait in one queue and each is delivered when the
// messages before it have been handled, so the focus it meets is the one a person
// saw when pressing.
struct InputEvent {
    enum Kind {
        TapDown,
        TapUp,
        TapMove,    // the stylus moved while down
        Wheel,      // code: the turn, WHEEL_DELTA a notch, away from the user positive
        KeyDown,    // code: a virtual key
        KeyUp,
        Character,  // code: a character typed as the keys that make it, or alone if none does
        Text,       // code: a character that came without a key (an input method, a paste)
    } kind;
    int x = 0, y = 0;  // taps and the wheel, screen pixels
    int code = 0;
    // KeyDown: the character the desktop's keyboard layout gave the press, which
    // TranslateMessage then makes; KEY_TEXT_US leaves it to the US layout, KEY_TEXT_NONE
    // makes none.
    int text = KEY_TEXT_US;
    static constexpr int KEY_TEXT_US = -1;
    static constexpr int KEY_TEXT_NONE = -2;
};

class WindowSystem {
public:
    explicit WindowSystem(const DeviceSettings& settings);
    ~WindowSystem();
    WindowSystem(const WindowSystem&) = delete;
    WindowSystem& operator=(const WindowSystem&) = delete;

    // ---- Input entry points (screen view, tests) ----
    // These act at once, on the focus as it is now; the live view and scripted input
    // go through `input` instead, which delivers each event through them in turn.
    // A tap at a screen point: WM_LBUTTONDOWN, then WM_LBUTTONUP, to the window under it.
    void tap(int x, int y);
    void tapDown(int x, int y);
    void tapUp(int x, int y);
    // The stylus moving while down: WM_MOUSEMOVE to the window the tap began in.
    void tapMove(int x, int y);
    // The wheel: WM_MOUSEWHEEL to an open drop-down list, else to the window under
    // the point, else to the focus.
    void wheel(int x, int y, int delta);
    // Keys go to the focus window; TranslateMessage makes WM_CHAR of them (US layout,
    // unless `text` says what the desktop's layout made of the press).
    void keyDown(int virtualKey, int text = InputEvent::KEY_TEXT_US);
    void keyUp(int virtualKey);
    void key(int virtualKey);  // down and up
    // A character with no key of its own: WM_CHAR alone.
    void character(char16_t c);
    // Each character as the keys that type it (Shift for capitals), or as WM_CHAR.
    void type(const std::u16string& text);
    // Events waiting their turn, delivered one at a time whenever the queue runs dry.
    void script(const std::vector<InputEvent>& events);
    void input(const InputEvent& event) { input_.push_back(event); }
    // Called when the queue is empty, no timer is due and no scripted input is left:
    // the live view pumps its own events and advances the clock there. Returning
    // false says nothing more will come, and GetMessageW then ends like WM_QUIT so a
    // scripted run cannot hang.
    void setIdle(std::function<bool()> idle) { idle_ = std::move(idle); }

    // ---- Simulated clock ----
    std::uint64_t now() const { return clock_; }
    void advanceClock(std::uint64_t milliseconds) { clock_ += milliseconds; }
    // Delivers everything that is waiting (posted messages, due timers, paints)
    // without blocking; the messages go to their window procedures.
    void pump();

    // ---- Screen ----
    // Paints every visible window into the frame (only when something changed unless
    // forced). The frame defaults to the handheld's LCD.
    void paint(bool force = false);
    void setFrame(const FrameBuffer& frame) { frame_ = frame; frameSet_ = true; }
    FrameBuffer frame() const;
    // The dialog font's average character width and height in pixels (dialog base units).
    int baseUnitX() const { return baseX_; }
    int baseUnitY() const { return baseY_; }
    double fontPixels() const { return fontPixels_; }
    int screenWidth() const;
    int screenHeight() const;
    int dpi() const;

    // ---- State for tests and the views ----
    Window* window(ce::HWND handle) const;
    ce::HWND focus() const { return focus_; }
    ce::HWND active() const { return active_; }
    std::vector<ce::HWND> topLevelWindows() const { return topLevel_; }
    ce::RECT screenRect(ce::HWND handle) const;  // window rectangle in screen pixels
    ce::HWND windowAt(int x, int y) const;
    bool hasWindows() const { return !topLevel_.empty(); }
    bool keyDownNow(int virtualKey) const { return keys_[virtualKey & 0xFF]; }

    // ---- The window calls ----
    ce::ATOM registerClass(const ce::WNDCLASSW& windowClass);
    ce::HWND createWindow(ce::DWORD exStyle, const std::u16string& className, const std::u16string& text,
                          ce::DWORD style, int x, int y, int width, int height, ce::HWND parent, int id,
                          ce::HINSTANCE instance, void* parameter);
    bool destroyWindow(ce::HWND handle);
    ce::LRESULT defWindowProc(ce::HWND handle, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam);
    bool showWindow(ce::HWND handle, int command);
    bool moveWindow(ce::HWND handle, int x, int y, int width, int height);
    bool setWindowPos(ce::HWND handle, int x, int y, int width, int height, ce::UINT flags);
    bool isVisible(ce::HWND handle) const;   // it and every ancestor shown
    bool isEnabled(ce::HWND handle) const;
    bool enable(ce::HWND handle, bool enable);
    bool isChildOf(ce::HWND parent, ce::HWND handle) const;
    ce::LONG_PTR setWindowLong(ce::HWND handle, int index, ce::LONG_PTR value);
    ce::LONG_PTR getWindowLong(ce::HWND handle, int index);
    ce::HWND dialogItem(ce::HWND dialog, int id) const;
    void invalidate(ce::HWND handle);

    bool getMessage(ce::MSG* message, ce::HWND filter, ce::UINT first, ce::UINT last);
    bool peekMessage(ce::MSG* message, ce::HWND filter, ce::UINT first, ce::UINT last, ce::UINT remove);
    bool postMessage(ce::HWND handle, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam);
    ce::LRESULT sendMessage(ce::HWND handle, ce::UINT message, ce::WPARAM wParam, ce::LPARAM lParam);
    bool translateMessage(const ce::MSG* message);
    ce::LRESULT dispatchMessage(const ce::MSG* message);
    void postQuit(int exitCode);
    ce::UINT setTimer(ce::HWND handle, ce::UINT id, ce::UINT milliseconds, ce::TIMERPROC procedure);
    bool killTimer(ce::HWND handle, ce::UINT id);
    bool hasTimer(ce::HWND handle, ce::UINT id) const;

    ce::HWND setFocus(ce::HWND handle);
    void activate(ce::HWND topLevel, ce::WORD how);

    // Dialog manager.
    ce::HWND createDialog(const void* bytes, std::size_t size, ce::HWND parent, ce::DLGPROC procedure,
                          ce::LPARAM parameter, ce::HINSTANCE instance);
    bool isDialogMessage(ce::HWND dialog, ce::MSG* message);
    ce::HWND nextTabItem(ce::HWND dialog, ce::HWND control, bool previous) const;
    ce::HWND nextGroupItem(ce::HWND dialog, ce::HWND control, bool previous) const;
    bool endDialog(ce::HWND dialog, int result);
    // A modal message box with its own loop; the answer of the button pressed.
    int messageBox(ce::HWND owner, const std::u16string& text, const std::u16string& caption, ce::UINT type);

    // GDI objects.
    ce::HBITMAP addBitmap(Bitmap bitmap);
    const Bitmap* bitmap(ce::HBITMAP handle) const;
    ce::HIMAGELIST createImageList(int width, int height);
    int addToImageList(ce::HIMAGELIST list, ce::HBITMAP image);
    const ImageList* imageList(ce::HIMAGELIST list) const;
    bool deleteObject(void* object);

    int commandBarHeight() const;

private:
    struct Class {
        ce::WNDPROC procedure;
        int wordBytes;
        ce::HBRUSH background;
        ce::HINSTANCE instance;
    };
    struct Timer {
        ce::HWND window;
        ce::UINT id;
        ce::UINT interval;
        std::uint64_t due;
        ce::TIMERPROC procedure;
    };

    bool nextMessage(ce::MSG* message, ce::HWND filter, ce::UINT first, ce::UINT last, bool remove, bool wait);
    bool takeInput();
    void deliverInput(const InputEvent& event);
    bool matches(const ce::MSG& message, ce::HWND filter, ce::UINT first, ce::UINT last) const;
    void destroyTree(ce::HWND handle);
    ce::HWND topLevelOf(ce::HWND handle) const;
    ce::HWND hitTest(ce::HWND handle, int x, int y) const;
    void setModalDisabled(ce::HWND except, bool disabled);
    ce::HWND nextArrowItem(ce::HWND dialog, ce::HWND control, bool previous) const;

    const DeviceSettings& settings_;
    FrameBuffer frame_;
    bool frameSet_ = false;
    std::map<std::u16string, Class> classes_;
    std::map<std::uintptr_t, std::unique_ptr<Window>> windows_;
    std::uintptr_t nextHandle_ = 0x10010;
    std::vector<ce::HWND> topLevel_;  // top of the z-order first
    std::deque<ce::MSG> queue_;
    bool quitPosted_ = false;
    int quitCode_ = 0;
    std::vector<Timer> timers_;
    std::uint64_t clock_ = 0;
    ce::HWND focus_ = nullptr;
    ce::HWND active_ = nullptr;
    ce::HWND capture_ = nullptr;
    bool keys_[256] = {};
    // What the desktop's layout made of recent key presses, by the slot a WM_KEYDOWN
    // carries in its scan-code bits (0: none given).
    int pressText_[256] = {};
    int nextPress_ = 0;
    std::deque<InputEvent> input_;
    std::function<bool()> idle_;
    bool dirty_ = true;
    std::map<std::uintptr_t, Bitmap> bitmaps_;
    std::map<std::uintptr_t, ImageList> imageLists_;
    std::uintptr_t nextObject_ = 0x70000;
    int baseX_ = 6;
    int baseY_ = 13;
    double fontPixels_ = 11;
};

// A window procedure's view of a built-in class's state.
struct ControlState {
    virtual ~ControlState() = default;
};

}  // namespace sim
