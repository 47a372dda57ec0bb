// SDL does the scaling: the renderer's logical size is the LCD's, so mouse positions
// arrive in screen pixels already.
#include "sim/screen/screen_view.h"

#include <SDL.h>

#include <algorithm>

#include "sim/screen/png_writer.h"
#include "sim/shared_library.h"
#include "sim/utf.h"

namespace sim {

namespace {

// SDL2, with the fifty libraries behind it, is loaded when the first window opens:
// commands that show none start without it.
#define QUORVEL_SDL_FUNCTIONS(F) \
    F(InitSubSystem) \
    F(QuitSubSystem) \
    F(GetError) \
    F(CreateWindow) \
    F(CreateRenderer) \
    F(SetHint) \
    F(RenderSetLogicalSize) \
    F(RenderSetIntegerScale) \
    F(CreateTexture) \
    F(StartTextInput) \
    F(GetDisplayUsableBounds) \
    F(GetDisplayBounds) \
    F(PumpEvents) \
    F(GetWindowBordersSize) \
    F(Delay) \
    F(GetWindowDisplayIndex) \
    F(SetWindowSize) \
    F(SetWindowPosition) \
    F(DestroyTexture) \
    F(DestroyRenderer) \
    F(DestroyWindow) \
    F(QueryTexture) \
    F(UpdateTexture) \
    F(RenderClear) \
    F(RenderCopy) \
    F(RenderPresent) \
    F(PollEvent)

struct Sdl {
#define QUORVEL_SDL_POINTER(name) decltype(::SDL_##name)* name = nullptr;
    QUORVEL_SDL_FUNCTIONS(QUORVEL_SDL_POINTER)
#undef QUORVEL_SDL_POINTER
};

// Set by the first open that found every function; only an open view calls SDL.
const Sdl* sdl = nullptr;

bool loadSdl(std::string& error) {
    static SharedLibrary library(QUORVEL_SDL2_SONAME);
    static Sdl functions;
    static const bool found = [] {
        bool all = library.isOpen();
#define QUORVEL_SDL_FIND(name) all = all && library.find("SDL_" #name, functions.name);
        QUORVEL_SDL_FUNCTIONS(QUORVEL_SDL_FIND)
#undef QUORVEL_SDL_FIND
        return all;
    }();
    if (!found) {
        error = "SDL2 cannot be loaded: " + library.error();
        return false;
    }
    sdl = &functions;
    return true;
}

// Windows virtual keys the view produces.
constexpr int VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10, VK_CONTROL = 0x11, VK_MENU = 0x12,
              VK_ESCAPE = 0x1B, VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23, VK_HOME = 0x24,
              VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27, VK_DOWN = 0x28, VK_INSERT = 0x2D, VK_DELETE = 0x2E,
              VK_F1 = 0x70;

int sdlUsers = 0;

}  // namespace

ScreenView::~ScreenView() { close(); }

int ScreenView::fittingScale(int width, int height, const DesktopArea& usable, const WindowFrame& frame) {
    if (width <= 0 || height <= 0) return 1;
    int roomW = usable.width - frame.left - frame.right, roomH = usable.height - frame.top - frame.bottom;
    return std::max(1, std::min(roomW / width, roomH / height));
}

DesktopArea ScreenView::placement(int width, int height, int scale, const DesktopArea& usable, const WindowFrame& frame) {
    int w = width * scale, h = height * scale;
    int outerW = w + frame.left + frame.right, outerH = h + frame.top + frame.bottom;
    return {usable.x + frame.left + std::max(0, (usable.width - outerW) / 2),
            usable.y + frame.top + std::max(0, (usable.height - outerH) / 2), w, h};
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
    // The US layout's punctuation keys (VK_OEM_*).
    case SDLK_SEMICOLON: return 0xBA;
    case SDLK_EQUALS: return 0xBB;
    case SDLK_COMMA: return 0xBC;
    case SDLK_MINUS: return 0xBD;
    case SDLK_PERIOD: return 0xBE;
    case SDLK_SLASH: return 0xBF;
    case SDLK_BACKQUOTE: return 0xC0;
    case SDLK_LEFTBRACKET: return 0xDB;
    case SDLK_BACKSLASH: return 0xDC;
    case SDLK_RIGHTBRACKET: return 0xDD;
    case SDLK_QUOTE: return 0xDE;
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
    if (!loadSdl(error_)) return false;
    if (sdlUsers == 0 && sdl->InitSubSystem(SDL_INIT_VIDEO) != 0) {
        error_ = sdl->GetError();
        return false;
    }
    ++sdlUsers;
    usesSdl_ = true;
    frame_ = frame;
    input_ = std::move(input);
    // Placed for a bare window first; a window manager's frame is known only once the
    // window is shown, and then it is fitted again.
    DesktopArea usable = usableArea(0);
    scale_ = scale > 0 ? scale : fittingScale(frame.width, frame.height, usable, {});
    DesktopArea place = placement(frame.width, frame.height, scale_, usable, {});
    window_ = sdl->CreateWindow(title.c_str(), place.x, place.y, place.width, place.height, SDL_WINDOW_RESIZABLE);
    if (window_) fitToDesktop(scale);
    if (window_) renderer_ = sdl->CreateRenderer(window_, -1, 0);
    // Whole-pixel scaling keeps the LCD's pixels square and sharp.
    if (renderer_) {
        sdl->SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
        sdl->RenderSetLogicalSize(renderer_, frame.width, frame.height);
        sdl->RenderSetIntegerScale(renderer_, SDL_TRUE);
        texture_ = sdl->CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, frame.width,
                                     frame.height);
    }
    if (!texture_) {
        error_ = sdl->GetError();
        close();
        return false;
    }
    sdl->StartTextInput();
    refresh();
    return true;
}

DesktopArea ScreenView::usableArea(int display) {
    SDL_Rect bounds{0, 0, 0, 0};
    if (sdl->GetDisplayUsableBounds(display, &bounds) != 0 && sdl->GetDisplayBounds(display, &bounds) != 0)
        return {};  // nothing known: the scale asked for, or 1
    return {bounds.x, bounds.y, bounds.w, bounds.h};
}

void ScreenView::fitToDesktop(int scale) {
    // The window manager decorates the window shortly after it is shown.
    WindowFrame frame;
    bool framed = false;
    for (int i = 0; i < 20 && !framed; ++i) {
        sdl->PumpEvents();
        framed = sdl->GetWindowBordersSize(window_, &frame.top, &frame.left, &frame.bottom, &frame.right) == 0 &&
                 frame.top + frame.left + frame.bottom + frame.right > 0;
        if (!framed) sdl->Delay(10);
    }
    if (!framed) return;  // a bare window: placed as it stands
    DesktopArea usable = usableArea(std::max(0, sdl->GetWindowDisplayIndex(window_)));
    scale_ = scale > 0 ? scale : fittingScale(frame_.width, frame_.height, usable, frame);
    DesktopArea place = placement(frame_.width, frame_.height, scale_, usable, frame);
    sdl->SetWindowSize(window_, place.width, place.height);
    sdl->SetWindowPosition(window_, place.x, place.y);
}

void ScreenView::close() {
    if (texture_) sdl->DestroyTexture(texture_);
    if (renderer_) sdl->DestroyRenderer(renderer_);
    if (window_) sdl->DestroyWindow(window_);
    texture_ = nullptr;
    renderer_ = nullptr;
    window_ = nullptr;
    buttonDown_ = false;
    if (usesSdl_ && --sdlUsers == 0) sdl->QuitSubSystem(SDL_INIT_VIDEO);
    usesSdl_ = false;
}

void ScreenView::refresh() {
    if (!texture_) return;
    // A frame whose size changed keeps the window's texture; only what fits is shown.
    FrameBuffer shown = frame_;
    int textureWidth = 0, textureHeight = 0;
    sdl->QueryTexture(texture_, nullptr, nullptr, &textureWidth, &textureHeight);
    shown.width = std::min(shown.width, textureWidth);
    shown.height = std::min(shown.height, textureHeight);
    if (frameToRgb(shown, pixels_)) {
        SDL_Rect area{0, 0, shown.width, shown.height};
        sdl->UpdateTexture(texture_, &area, pixels_.data(), shown.width * 4);
    }
    sdl->RenderClear(renderer_);
    sdl->RenderCopy(renderer_, texture_, nullptr, nullptr);
    sdl->RenderPresent(renderer_);
}

void ScreenView::deliverKey(const SDL_Event& event, int text) {
    int key = virtualKey(event.key.keysym.sym);
    if (key != 0 && input_.key) input_.key(key, event.type == SDL_KEYDOWN, text);
}

void ScreenView::deliver(const SDL_Event& event) {
    auto tap = [&](int x, int y, bool down) {
        x = std::clamp(x, 0, frame_.width - 1);
        y = std::clamp(y, 0, frame_.height - 1);
        if (input_.tap) input_.tap(x, y, down);
    };
    switch (event.type) {
    case SDL_MOUSEBUTTONDOWN:
        pointerX_ = event.button.x;
        pointerY_ = event.button.y;
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
    case SDL_MOUSEMOTION:
        pointerX_ = event.motion.x;
        pointerY_ = event.motion.y;
        if (buttonDown_ && input_.move)
            input_.move(std::clamp(event.motion.x, 0, frame_.width - 1), std::clamp(event.motion.y, 0, frame_.height - 1));
        break;
    case SDL_MOUSEWHEEL: {
        int notches = event.wheel.direction == SDL_MOUSEWHEEL_FLIPPED ? -event.wheel.y : event.wheel.y;
        if (notches != 0 && input_.wheel)
            input_.wheel(std::clamp(pointerX_, 0, frame_.width - 1), std::clamp(pointerY_, 0, frame_.height - 1),
                         notches * 120);
        break;
    }
    case SDL_KEYUP: deliverKey(event, -1); break;
    case SDL_KEYDOWN: deliverKey(event, -1); break;  // a press that brought no text
    case SDL_TEXTINPUT:
        // Text with no key press before it: an input method's, a paste.
        if (input_.character)
            for (char16_t c : fromUtf8(event.text.text)) input_.character(c);
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
    // A key press is held until the next event shows whether text came of it: the
    // two are one keystroke, delivered once, as the key with its character.
    SDL_Event press{};
    bool holding = false;
    while (window_ && sdl->PollEvent(&event)) {
        if (event.type == SDL_QUIT ||
            (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE)) {
            close();
            if (input_.close) input_.close();
            return false;
        }
        if (holding) {
            holding = false;
            if (event.type == SDL_TEXTINPUT) {
                std::u16string text = fromUtf8(event.text.text);
                if (!text.empty() && virtualKey(press.key.keysym.sym) != 0) {
                    deliverKey(press, text[0]);
                    if (input_.character)
                        for (std::size_t i = 1; i < text.size(); ++i) input_.character(text[i]);
                    continue;
                }
            }
            deliverKey(press, -1);
        }
        int vk = event.type == SDL_KEYDOWN ? virtualKey(event.key.keysym.sym) : 0;
        if (vk != 0 && vk != VK_SHIFT && vk != VK_CONTROL && vk != VK_MENU) {
            press = event;
            holding = true;
            continue;
        }
        deliver(event);
    }
    if (holding && window_) deliverKey(press, -1);
    return window_ != nullptr;
}

void ScreenView::run(const std::function<bool()>& tick, int intervalMs) {
    while (pump()) {
        if (tick && !tick()) return;
        refresh();
        sdl->Delay(static_cast<Uint32>(std::max(1, intervalMs)));
    }
}

}  // namespace sim
