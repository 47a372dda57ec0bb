// SDL does the scaling: the renderer's logical size is the LCD's, so mouse positions
// arrive in screen pixels already.
#include "sim/screen/screen_view.h"

#include <SDL.h>

#include <algorithm>

#include "sim/screen/png_writer.h"
#include "sim/utf.h"

namespace sim {

namespace {

constexpr int largestWidth = 1280;
constexpr int largestHeight = 960;

// Windows virtual keys the view produces.
constexpr int VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12,
              VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23, VK_HOME = 0x24,
              VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28, VK_INSERT = 0x2D, VK_DELETE = 0x2E,
              VK_F1 = 0x70;

int sdlUsers = 0;

}  // namespace

ScreenView::~ScreenView() { close(); }

int ScreenView::comfortableScale(int width, int height) {
    if (width <= 0 || height <= 0) return 1;
    return std::max(1, std::min(largestWidth / width, largestHeight / height));
}

int ScreenView::virtualKey(std::int32_t key) {
    if (key >= SDLK_a && key <= SDLK_z) return 'A' + (key - SDLK_a);
    if (key >= SDLK_0 && key <= SDLK_9) return '0' + (key - SDLK_0);
    if (key >= SDLK_F1 && key <= SDLK_F12) return VK_F1 + (key - SDLK_F1);
    switch (key) {
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_TAB: return VK_TAB;
    case SDLK_RETURN:
    case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL:
    case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT:
    case SDLK_RALT: return VK_MENU;
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_END: return VK_END;
    case SDLK_HOME: return VK_HOME;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    default: return 0;
    }
}

bool ScreenView::open(const FrameBuffer& frame, ScreenInput input, int scale, const std::string& title) {
    close();
    error_.clear();
    if (!frame.pixels || frame.width <= 0 || frame.height <= 0) {
        error_ = "the handheld has no screen";
        return false;
    }
    if (sdlUsers == 0 && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        error_ = SDL_GetError();
        return false;
    }
    ++sdlUsers;
    usesSdl_ = true;
    frame_ = frame;
    input_ = std::move(input);
    scale_ = scale > 0 ? scale : comfortableScale(frame.width, frame.height);
    window_ = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, frame.width * scale_,
                               frame.height * scale_, SDL_WINDOW_RESIZABLE);
    if (window_) renderer_ = SDL_CreateRenderer(window_, -1, 0);
    // Whole-pixel scaling keeps the LCD's pixels square and sharp.
    if (renderer_) {
        SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
        SDL_RenderSetLogicalSize(renderer_, frame.width, frame.height);
        SDL_RenderSetIntegerScale(renderer_, SDL_TRUE);
        texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, frame.width,
                                     frame.height);
    }
    if (!texture_) {
        error_ = SDL_GetError();
        close();
        return false;
    }
    SDL_StartTextInput();
    refresh();
    return true;
}

void ScreenView::close() {
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    texture_ = nullptr;
    renderer_ = nullptr;
    window_ = nullptr;
    buttonDown_ = false;
    if (usesSdl_ && --sdlUsers == 0) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    usesSdl_ = false;
}

void ScreenView::refresh() {
    if (!texture_) return;
    // A frame whose size changed keeps the window's texture; only what fits is shown.
    FrameBuffer shown = frame_;
    int textureWidth = 0, textureHeight = 0;
    SDL_QueryTexture(texture_, nullptr, nullptr, &textureWidth, &textureHeight);
    shown.width = std::min(shown.width, textureWidth);
    shown.height = std::min(shown.height, textureHeight);
    if (frameToRgb(shown, pixels_)) {
        SDL_Rect area{0, 0, shown.width, shown.height};
        SDL_UpdateTexture(texture_, &area, pixels_.data(), shown.width * 4);
    }
    SDL_RenderClear(renderer_);
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
    SDL_RenderPresent(renderer_);
}

void ScreenView::deliver(const SDL_Event& event) {
    auto tap = [&](int x, int y, bool down) {
        x = std::clamp(x, 0, frame_.width - 1);
        y = std::clamp(y, 0, frame_.height - 1);
        if (input_.tap) input_.tap(x, y, down);
    };
    auto character = [&](char16_t c) {
        if (input_.character) input_.character(c);
    };
    switch (event.type) {
    case SDL_MOUSEBUTTONDOWN:
        if (event.button.button == SDL_BUTTON_LEFT) {
            buttonDown_ = true;
            tap(event.button.x, event.button.y, true);
        }
        break;
    case SDL_MOUSEBUTTONUP:
        // A release outside the window still ends the tap that began inside it.
        if (event.button.button == SDL_BUTTON_LEFT && buttonDown_) {
            buttonDown_ = false;
            tap(event.button.x, event.button.y, false);
        }
        break;
    case SDL_KEYDOWN:
    case SDL_KEYUP: {
        bool down = event.type == SDL_KEYDOWN;
        int key = virtualKey(event.key.keysym.sym);
        if (key != 0 && input_.key) input_.key(key, down);
        // Text input brings no characters for these keys; a Windows edit expects them.
        if (down && (key == VK_RETURN || key == VK_BACK || key == VK_TAB || key == VK_ESCAPE)) {
            character(key == VK_RETURN ? u'\r' : static_cast<char16_t>(key));
        }
        break;
    }
    case SDL_TEXTINPUT:
        for (char16_t c : fromUtf8(event.text.text)) character(c);
        break;
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_EXPOSED) refresh();
        break;
    default: break;
    }
}

bool ScreenView::pump() {
    if (!window_) return false;
    SDL_Event event;
    while (window_ && SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT ||
            (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE)) {
            close();
            if (input_.close) input_.close();
            return false;
        }
        deliver(event);
    }
    return window_ != nullptr;
}

void ScreenView::run(const std::function<bool()>& tick, int intervalMs) {
    while (pump()) {
        if (tick && !tick()) return;
        refresh();
        SDL_Delay(static_cast<Uint32>(std::max(1, intervalMs)));
    }
}

}  // namespace sim
