// The live screen: an SDL2 desktop window showing the LCD frame, scaled up, that
// turns mouse clicks into taps at the screen point and keys into key and character
// events, delivered through the callbacks it is given.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/screen/frame_buffer.h"

struct SDL_Window;
struct SDL_Renderer;
struct SDL_Texture;
union SDL_Event;

namespace sim {

// What the view delivers; any callback may be left empty.
struct ScreenInput {
    std::function<void(int x, int y, bool down)> tap;  // screen pixels
    std::function<void(int x, int y)> move;            // the pointer moved while the button is down
    std::function<void(int x, int y, int delta)> wheel;  // 120 a notch, away from the user positive
    // Windows virtual-key codes. A press carries the character the desktop's keyboard
    // layout made of it, or -1 when it made none that the view saw.
    std::function<void(int virtualKey, bool down, int text)> key;
    std::function<void(char16_t)> character;  // text that came without a key press
    std::function<void()> close;              // the desktop window was closed
};

// The desktop's room for a window and the frame its window manager puts round one.
struct DesktopArea {
    int x = 0, y = 0, width = 0, height = 0;
};
struct WindowFrame {
    int top = 0, left = 0, bottom = 0, right = 0;
};

class ScreenView {
public:
    ScreenView() = default;
    ~ScreenView();
    ScreenView(const ScreenView&) = delete;
    ScreenView& operator=(const ScreenView&) = delete;

    // Opens the window for `frame`, scaled by `scale` (0: the largest whole scale whose
    // window, with its frame, fits the usable area of the display), placed inside that
    // area. False, with a reason in `error()`, when there is no display or the frame
    // has no pixels.
    bool open(const FrameBuffer& frame, ScreenInput input, int scale = 0, const std::string& title = "quorvel");
    void close();
    bool isOpen() const { return window_ != nullptr; }
    const std::string& error() const { return error_; }
    int scale() const { return scale_; }

    // The frame to show from now on (the kernel may move it).
    void setFrame(const FrameBuffer& frame) { frame_ = frame; }
    // Shows the frame's pixels as they are now.
    void refresh();
    // Delivers the window events that are waiting; false once the window is closed.
    bool pump();
    // Pumps and refreshes about every `intervalMs` until the window closes or `tick`
    // returns false; `tick` runs once a round (the caller's message loop, its clock).
    void run(const std::function<bool()>& tick, int intervalMs = 30);

    // The scale `open` chooses for a screen of that size on that desktop (at least 1).
    static int fittingScale(int width, int height, const DesktopArea& usable, const WindowFrame& frame);
    // Where the window's client area goes: centred in the usable area, never above or
    // left of it.
    static DesktopArea placement(int width, int height, int scale, const DesktopArea& usable, const WindowFrame& frame);
    // A desktop key (an SDL keycode) as a Windows virtual key, 0 when it has none.
    static int virtualKey(std::int32_t sdlKey);

private:
    void deliver(const SDL_Event& event);
    void deliverKey(const SDL_Event& event, int text);
    void fitToDesktop(int scale);
    static DesktopArea usableArea(int display);

    FrameBuffer frame_;
    ScreenInput input_;
    int scale_ = 1;
    std::string error_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    std::vector<std::uint32_t> pixels_;
    bool buttonDown_ = false;
    int pointerX_ = 0, pointerY_ = 0;  // the last pointer position, screen pixels
    bool usesSdl_ = false;  // this view holds one of SDL's video users
};

}  // namespace sim
