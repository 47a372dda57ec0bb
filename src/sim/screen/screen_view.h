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
    std::function<void(int x, int y, bool down)> tap;        // screen pixels
    std::function<void(int virtualKey, bool down)> key;      // Windows virtual-key codes
    std::function<void(char16_t)> character;                 // typed text, and CR, BS, TAB, ESC
    std::function<void()> close;                             // the desktop window was closed
};

class ScreenView {
public:
    ScreenView() = default;
    ~ScreenView();
    ScreenView(const ScreenView&) = delete;
    ScreenView& operator=(const ScreenView&) = delete;

    // Opens the window for `frame`, scaled by `scale` (0: the largest whole scale that
    // keeps it within 1280 x 960). False, with a reason in `error()`, when there is no
    // display or the frame has no pixels.
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

    // The scale `open` chooses for a screen of that size.
    static int comfortableScale(int width, int height);
    // A desktop key (an SDL keycode) as a Windows virtual key, 0 when it has none.
    static int virtualKey(std::int32_t sdlKey);

private:
    void deliver(const SDL_Event& event);

    FrameBuffer frame_;
    ScreenInput input_;
    int scale_ = 1;
    std::string error_;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
    std::vector<std::uint32_t> pixels_;
    bool buttonDown_ = false;
    bool usesSdl_ = false;  // this view holds one of SDL's video users
};

}  // namespace sim
