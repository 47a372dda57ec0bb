// Classes, the window tree, the message queue, timers, focus and input.
#include "sim/windows/window_system.h"

#include <algorithm>

#include "sim/screen/frame_buffer.h"
#include "sim/settings.h"
#include "sim/windows/controls.h"
#include "sim/windows/painter.h"

namespace sim {

using namespace ce;

namespace {
WindowSystem* current = nullptr;

HWND toHandle(std::uintptr_t v) { return reinterpret_cast<HWND>(v); }
std::uintptr_t slot(const void* p) { return reinterpret_cast<std::uintptr_t>(p); }

// US keyboard: the character a key gives without and with Shift.
struct KeyChar {
    int vk;
    char16_t plain, shifted;
};
constexpr KeyChar keyChars[] = {
    {VK_SPACE, u' ', u' '}, {VK_RETURN, u'\r', u'\r'}, {VK_BACK, 8, 8}, {VK_TAB, 9, 9}, {VK_ESCAPE, 27, 27},
    {'0', u'0', u')'}, {'1', u'1', u'!'}, {'2', u'2', u'@'}, {'3', u'3', u'#'}, {'4', u'4', u'$'},
    {'5', u'5', u'%'}, {'6', u'6', u'^'}, {'7', u'7', u'&'}, {'8', u'8', u'*'}, {'9', u'9', u'('},
    {0xBA, u';', u':'}, {0xBB, u'=', u'+'}, {0xBC, u',', u'<'}, {0xBD, u'-', u'_'}, {0xBE, u'.', u'>'},
    {0xBF, u'/', u'?'}, {0xC0, u'`', u'~'}, {0xDB, u'[', u'{'}, {0xDC, u'\\', u'|'}, {0xDD, u']', u'}'},
    {0xDE, u'\'', u'"'},
};

char16_t charOfKey(int vk, bool shift) {
    if (vk >= 'A' && vk <= 'Z') return static_cast<char16_t>(shift ? vk : vk + 32);
    for (const KeyChar& k : keyChars)
        if (k.vk == vk) return shift ? k.shifted : k.plain;
    return 0;
}

bool keyOfChar(char16_t c, int& vk, bool& shift) {
    if (c == u'\n') c = u'\r';
    if (c >= u'a' && c <= u'z') { vk = c - 32; shift = false; return true; }
    if (c >= u'A' && c <= u'Z') { vk = c; shift = true; return true; }
    for (const KeyChar& k : keyChars) {
        if (k.plain == c) { vk = k.vk; shift = false; return true; }
        if (k.shifted == c) { vk = k.vk; shift = true; return true; }
    }
    return false;
}
}  // namespace

WindowSystem& windowSystem() { return *current; }

WindowSystem::WindowSystem(const DeviceSettings& settings) : settings_(settings) {
    current = this;
    fontPixels_ = 8.0 * dpi() / 72.0;  // an 8-point face, as the handheld's dialogs use
    TextMetrics metrics = measureFont(fontPixels_);
    baseX_ = metrics.averageWidth;
    baseY_ = metrics.height;
    const struct {
        const char16_t* name;
        WNDPROC procedure;
    } builtIn[] = {
        {BUTTON_CLASS, buttonProcedure},     {EDIT_CLASS, editProcedure},       {STATIC_CLASS, staticProcedure},
        {COMBOBOX_CLASS, comboProcedure},    {PROGRESS_CLASS, progressProcedure}, {TAB_CLASS, tabProcedure},
        {UPDOWN_CLASS, upDownProcedure},     {COMMANDBAR_CLASS, commandBarProcedure},
        {DIALOG_CLASS, dialogProcedure},
    };
    for (const auto& c : builtIn) classes_[c.name] = {c.procedure, 0, nullptr, nullptr};
    classes_[DIALOG_CLASS].wordBytes = 12;  // DWL_MSGRESULT, DWL_DLGPROC, DWL_USER
}

WindowSystem::~WindowSystem() {
    if (current == this) current = nullptr;
}

int WindowSystem::screenWidth() const { return settings_.screenWidth; }
int WindowSystem::screenHeight() const { return settings_.screenHeight; }
int WindowSystem::dpi() const { return settings_.dpi > 0 ? settings_.dpi : 96; }

FrameBuffer WindowSystem::frame() const { return frameSet_ ? frame_ : lcdFrame(); }

Window* WindowSystem::window(HWND handle) const {
    auto it = windows_.find(slot(handle));
    return it == windows_.end() || it->second->destroying ? nullptr : it->second.get();
}

// ---- classes and windows ----

ATOM WindowSystem::registerClass(const WNDCLASSW& c) {
    if (!c.lpszClassName || !c.lpfnWndProc || c.cbWndExtra < 0) return 0;
    std::u16string name(c.lpszClassName);
    if (classes_.count(name)) return 0;  // ERROR_CLASS_ALREADY_EXISTS
    classes_[name] = {c.lpfnWndProc, c.cbWndExtra, c.hbrBackground, c.hInstance};
    return static_cast<ATOM>(0xC000 + classes_.size());
}

HWND WindowSystem::createWindow(DWORD exStyle, const std::u16string& className, const std::u16string& text,
                                DWORD style, int x, int y, int width, int height, HWND parent, int id,
                                HINSTANCE instance, void* parameter) {
    auto cls = classes_.find(className);
    if (cls == classes_.end()) {
        // Class names compare without regard to case.
        for (auto it = classes_.begin(); it != classes_.end(); ++it) {
            if (it->first.size() != className.size()) continue;
            bool same = std::equal(it->first.begin(), it->first.end(), className.begin(), [](char16_t a, char16_t b) {
                auto up = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
                return up(a) == up(b);
            });
            if (same) { cls = it; break; }
        }
    }
    if (cls == classes_.end()) return nullptr;
    Window* parentWindow = parent ? window(parent) : nullptr;
    if ((style & WS_CHILD) && !parentWindow) return nullptr;
    if (x == CW_USEDEFAULT) x = 0;
    if (y == CW_USEDEFAULT) y = 0;
    if (width == CW_USEDEFAULT) width = (style & WS_CHILD) ? 0 : screenWidth();
    if (height == CW_USEDEFAULT) height = (style & WS_CHILD) ? 0 : screenHeight();

    auto w = std::make_unique<Window>();
    HWND handle = toHandle(nextHandle_);
    nextHandle_ += 4;
    w->handle = handle;
    w->className = cls->first;
    w->procedure = cls->second.procedure;
    w->wordBytes = cls->second.wordBytes;
    w->background = cls->second.background;
    w->style = style;
    w->exStyle = exStyle;
    w->id = (style & WS_CHILD) ? id : 0;
    w->text = text;
    w->rect = {x, y, x + std::max(width, 0), y + std::max(height, 0)};
    w->parent = (style & WS_CHILD) ? parent : nullptr;
    w->instance = instance;
    w->dialog = cls->first == DIALOG_CLASS;
    windows_[slot(handle)] = std::move(w);
    if (style & WS_CHILD)
        parentWindow->children.push_back(handle);
    else
        topLevel_.insert(topLevel_.begin(), handle);
    dirty_ = true;

    CREATESTRUCTW create{};
    create.lpCreateParams = parameter;
    create.hInstance = instance;
    create.hwndParent = parent;
    create.x = x;
    create.y = y;
    create.cx = width;
    create.cy = height;
    create.style = static_cast<LONG>(style);
    create.lpszName = text.c_str();
    create.lpszClass = className.c_str();
    create.dwExStyle = exStyle;
    if (sendMessage(handle, WM_CREATE, 0, reinterpret_cast<LPARAM>(&create)) == -1) {
        destroyWindow(handle);
        return nullptr;
    }
    if (!window(handle)) return nullptr;
    if (!(style & WS_CHILD) && (style & WS_VISIBLE)) activate(handle, WA_ACTIVE);
    return handle;
}

void WindowSystem::destroyTree(HWND handle) {
    Window* w = window(handle);
    if (!w) return;
    sendMessage(handle, WM_DESTROY, 0, 0);
    w = window(handle);
    if (!w) return;
    std::vector<HWND> children = w->children;
    for (HWND child : children) destroyTree(child);
    w->destroying = true;
}

bool WindowSystem::destroyWindow(HWND handle) {
    Window* w = window(handle);
    if (!w) return false;
    HWND top = topLevelOf(handle);
    bool wasActive = top == handle && active_ == handle;
    if (focus_ && (focus_ == handle || isChildOf(handle, focus_))) {
        HWND old = focus_;
        focus_ = nullptr;
        if (window(old)) sendMessage(old, WM_KILLFOCUS, 0, 0);
    }
    destroyTree(handle);
    // Forget everything the tree owned.
    std::vector<std::uintptr_t> gone;
    for (auto& [k, win] : windows_)
        if (win->destroying) gone.push_back(k);
    for (std::uintptr_t k : gone) {
        HWND h = toHandle(k);
        Window* dead = windows_[k].get();
        if (dead->parent) {
            auto it = windows_.find(slot(dead->parent));
            if (it != windows_.end()) {
                auto& siblings = it->second->children;
                siblings.erase(std::remove(siblings.begin(), siblings.end(), h), siblings.end());
            }
        }
        topLevel_.erase(std::remove(topLevel_.begin(), topLevel_.end(), h), topLevel_.end());
        timers_.erase(std::remove_if(timers_.begin(), timers_.end(), [h](const Timer& t) { return t.window == h; }),
                      timers_.end());
        queue_.erase(std::remove_if(queue_.begin(), queue_.end(), [h](const MSG& m) { return m.hwnd == h; }),
                     queue_.end());
        if (capture_ == h) capture_ = nullptr;
        if (focus_ == h) focus_ = nullptr;
        if (active_ == h) active_ = nullptr;
        windows_.erase(k);
    }
    dirty_ = true;
    if (wasActive) {
        for (HWND next : topLevel_)
            if (isVisible(next) && isEnabled(next)) {
                activate(next, WA_ACTIVE);
                break;
            }
    }
    return true;
}

LRESULT WindowSystem::defWindowProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = window(handle);
    if (!w) return 0;
    switch (message) {
    case WM_CLOSE: destroyWindow(handle); return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !(focus_ && (focus_ == handle || isChildOf(handle, focus_))))
            setFocus(handle);
        return 0;
    case WM_PAINT: w->needsPaint = false; return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SETTEXT:
        w->text = lParam ? std::u16string(reinterpret_cast<LPCWSTR>(lParam)) : std::u16string();
        dirty_ = true;
        return TRUE;
    case WM_GETTEXT: {
        auto* out = reinterpret_cast<WCHAR*>(lParam);
        int size = static_cast<int>(wParam);
        if (!out || size <= 0) return 0;
        int n = static_cast<int>(std::min<std::size_t>(w->text.size(), static_cast<std::size_t>(size - 1)));
        std::copy(w->text.begin(), w->text.begin() + n, out);
        out[n] = 0;
        return n;
    }
    case WM_GETTEXTLENGTH: return static_cast<LRESULT>(w->text.size());
    case WM_GETDLGCODE: return 0;
    // A wheel turned over a window that does not scroll scrolls its parent.
    case WM_MOUSEWHEEL: return w->parent ? sendMessage(w->parent, message, wParam, lParam) : 0;
    default: return 0;
    }
}

HWND WindowSystem::topLevelOf(HWND handle) const {
    Window* w = window(handle);
    while (w && w->parent) {
        handle = w->parent;
        w = window(handle);
    }
    return w ? handle : nullptr;
}

bool WindowSystem::isChildOf(HWND parent, HWND handle) const {
    Window* w = window(handle);
    while (w && w->parent) {
        if (w->parent == parent) return true;
        w = window(w->parent);
    }
    return false;
}

bool WindowSystem::isVisible(HWND handle) const {
    for (Window* w = window(handle); w; w = window(w->parent)) {
        if (!w->visibleStyle()) return false;
        if (!w->parent) return true;
    }
    return false;
}

bool WindowSystem::isEnabled(HWND handle) const {
    Window* w = window(handle);
    return w && w->enabledStyle();
}

bool WindowSystem::enable(HWND handle, bool on) {
    Window* w = window(handle);
    if (!w) return false;
    bool wasDisabled = !w->enabledStyle();
    if (on == !wasDisabled) return wasDisabled;
    if (on)
        w->style &= ~WS_DISABLED;
    else
        w->style |= WS_DISABLED;
    if (!on && focus_ && (focus_ == handle || isChildOf(handle, focus_))) setFocus(nullptr);
    sendMessage(handle, WM_ENABLE, on ? TRUE : FALSE, 0);
    invalidate(handle);
    return wasDisabled;
}

bool WindowSystem::showWindow(HWND handle, int command) {
    Window* w = window(handle);
    if (!w) return false;
    bool wasVisible = w->visibleStyle();
    bool show = command != SW_HIDE;
    if (show == wasVisible) return wasVisible;
    if (show) {
        w->style |= WS_VISIBLE;
    } else {
        w->style &= ~WS_VISIBLE;
        // A hidden window cannot keep the keyboard: it goes to the parent.
        if (focus_ && (focus_ == handle || isChildOf(handle, focus_))) setFocus(w->parent);
    }
    sendMessage(handle, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    invalidate(handle);
    dirty_ = true;
    if (!w->parent) {
        if (show) {
            activate(handle, WA_ACTIVE);
        } else if (active_ == handle) {
            HWND next = nullptr;
            for (HWND t : topLevel_)
                if (t != handle && isVisible(t) && isEnabled(t)) { next = t; break; }
            activate(next, WA_ACTIVE);
        }
    }
    return wasVisible;
}

bool WindowSystem::moveWindow(HWND handle, int x, int y, int width, int height) {
    return setWindowPos(handle, x, y, width, height, SWP_NOZORDER);
}

bool WindowSystem::setWindowPos(HWND handle, int x, int y, int width, int height, UINT flags) {
    Window* w = window(handle);
    if (!w) return false;
    RECT r = w->rect;
    if (!(flags & SWP_NOMOVE)) {
        r.right += x - r.left;
        r.bottom += y - r.top;
        r.left = x;
        r.top = y;
    }
    if (!(flags & SWP_NOSIZE)) {
        r.right = r.left + std::max(width, 0);
        r.bottom = r.top + std::max(height, 0);
    }
    w->rect = r;
    if (flags & SWP_SHOWWINDOW) showWindow(handle, SW_SHOW);
    if (flags & SWP_HIDEWINDOW) showWindow(handle, SW_HIDE);
    sendMessage(handle, WM_SIZE, 0, MAKELPARAM(static_cast<WORD>(r.right - r.left), static_cast<WORD>(r.bottom - r.top)));
    dirty_ = true;
    return true;
}

LONG_PTR WindowSystem::setWindowLong(HWND handle, int index, LONG_PTR value) {
    Window* w = window(handle);
    if (!w) return 0;
    LONG_PTR old = getWindowLong(handle, index);
    switch (index) {
    case GWL_STYLE: w->style = static_cast<DWORD>(value); dirty_ = true; return old;
    case GWL_EXSTYLE: w->exStyle = static_cast<DWORD>(value); return old;
    case GWL_ID: w->id = static_cast<int>(value); return old;
    case GWL_USERDATA: w->userData = value; return old;
    case GWL_WNDPROC: w->procedure = reinterpret_cast<WNDPROC>(value); return old;
    default: break;
    }
    if (w->dialog && index == DWL_DLGPROC) {
        w->dialogProcedure = reinterpret_cast<DLGPROC>(value);
        return old;
    }
    if (index < 0 || index + 4 > w->wordBytes) return 0;  // ERROR_INVALID_INDEX
    w->words[index] = value;
    return old;
}

LONG_PTR WindowSystem::getWindowLong(HWND handle, int index) {
    Window* w = window(handle);
    if (!w) return 0;
    switch (index) {
    case GWL_STYLE: return static_cast<LONG_PTR>(w->style);
    case GWL_EXSTYLE: return static_cast<LONG_PTR>(w->exStyle);
    case GWL_ID: return w->id;
    case GWL_USERDATA: return w->userData;
    case GWL_WNDPROC: return reinterpret_cast<LONG_PTR>(w->procedure);
    default: break;
    }
    if (w->dialog && index == DWL_DLGPROC) return reinterpret_cast<LONG_PTR>(w->dialogProcedure);
    if (index < 0 || index + 4 > w->wordBytes) return 0;
    auto it = w->words.find(index);
    return it == w->words.end() ? 0 : it->second;
}

HWND WindowSystem::dialogItem(HWND dialog, int id) const {
    Window* d = window(dialog);
    if (!d) return nullptr;
    for (HWND child : d->children) {
        Window* c = window(child);
        if (c && c->id == id) return child;
    }
    return nullptr;
}

void WindowSystem::invalidate(HWND handle) {
    if (Window* w = window(handle)) w->needsPaint = true;
    dirty_ = true;
}

RECT WindowSystem::screenRect(HWND handle) const {
    Window* w = window(handle);
    if (!w) return {0, 0, 0, 0};
    RECT r = w->rect;
    for (Window* p = window(w->parent); p; p = window(p->parent)) {
        POINT origin = clientOrigin(*p);
        r.left += p->rect.left + origin.x;
        r.right += p->rect.left + origin.x;
        r.top += p->rect.top + origin.y;
        r.bottom += p->rect.top + origin.y;
    }
    return r;
}

HWND WindowSystem::hitTest(HWND handle, int x, int y) const {
    Window* w = window(handle);
    if (!w || !w->visibleStyle()) return nullptr;
    RECT r = screenRect(handle);
    if (x < r.left || x >= r.right || y < r.top || y >= r.bottom) return nullptr;
    for (HWND child : w->children) {
        Window* c = window(child);
        // A group box is a frame around other controls, never their cover.
        if (c && c->className == BUTTON_CLASS && (c->style & BS_TYPEMASK) == BS_GROUPBOX) continue;
        if (HWND hit = hitTest(child, x, y)) return hit;
    }
    return handle;
}

HWND WindowSystem::windowAt(int x, int y) const {
    // An open drop-down list lies above everything.
    for (auto& [k, w] : windows_) {
        if (w->destroying || w->className != COMBOBOX_CLASS || !w->control) continue;
        auto* combo = dynamic_cast<ComboState*>(w->control.get());
        if (!combo || !combo->dropped) continue;
        RECT list = dropListRect(*this, w->handle);
        if (x >= list.left && x < list.right && y >= list.top && y < list.bottom) return w->handle;
    }
    for (HWND top : topLevel_)
        if (HWND hit = hitTest(top, x, y)) return hit;
    return nullptr;
}

// ---- messages ----

bool WindowSystem::postMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (handle && !window(handle)) return false;
    MSG m{handle, message, wParam, lParam, static_cast<DWORD>(clock_), {0, 0}};
    queue_.push_back(m);
    return true;
}

LRESULT WindowSystem::sendMessage(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = window(handle);
    if (!w || !w->procedure) return 0;
    return w->procedure(handle, message, wParam, lParam);
}

void WindowSystem::postQuit(int exitCode) {
    quitPosted_ = true;
    quitCode_ = exitCode;
}

bool WindowSystem::matches(const MSG& m, HWND filter, UINT first, UINT last) const {
    if (filter && m.hwnd != filter && !isChildOf(filter, m.hwnd)) return false;
    if (first == 0 && last == 0) return true;
    return m.message >= first && m.message <= last;
}

bool WindowSystem::nextMessage(MSG* out, HWND filter, UINT first, UINT last, bool remove, bool wait) {
    for (;;) {
        for (auto it = queue_.begin(); it != queue_.end(); ++it) {
            if (!matches(*it, filter, first, last)) continue;
            *out = *it;
            if (remove) {
                queue_.erase(it);
                if (out->message == WM_KEYDOWN) keys_[out->wParam & 0xFF] = true;
                if (out->message == WM_KEYUP) keys_[out->wParam & 0xFF] = false;
            }
            return true;
        }
        if (quitPosted_) {
            *out = MSG{nullptr, WM_QUIT, static_cast<WPARAM>(quitCode_), 0, static_cast<DWORD>(clock_), {0, 0}};
            if (remove) quitPosted_ = false;
            return true;
        }
        for (Timer& t : timers_) {
            if (t.due > clock_) continue;
            MSG m{t.window, WM_TIMER, t.id, reinterpret_cast<LPARAM>(t.procedure), static_cast<DWORD>(clock_), {0, 0}};
            if (!matches(m, filter, first, last)) continue;
            // However many periods passed, one WM_TIMER stands for them.
            if (remove) t.due = clock_ + std::max<UINT>(t.interval, 1);
            *out = m;
            return true;
        }
        for (auto& [k, w] : windows_) {
            if (w->destroying || !w->needsPaint || !isVisible(w->handle)) continue;
            MSG m{w->handle, WM_PAINT, 0, 0, static_cast<DWORD>(clock_), {0, 0}};
            if (!matches(m, filter, first, last)) continue;
            if (remove) w->needsPaint = false;
            *out = m;
            return true;
        }
        paint();
        if (takeInput()) continue;
        if (!wait) return false;
        if (idle_ && idle_()) continue;
        // Nothing can come any more.
        *out = MSG{nullptr, WM_QUIT, 0, 0, static_cast<DWORD>(clock_), {0, 0}};
        return true;
    }
}

bool WindowSystem::getMessage(MSG* message, HWND filter, UINT first, UINT last) {
    if (!message) return false;
    nextMessage(message, filter, first, last, true, true);
    return message->message != WM_QUIT;
}

bool WindowSystem::peekMessage(MSG* message, HWND filter, UINT first, UINT last, UINT remove) {
    MSG local;
    if (!message) message = &local;
    return nextMessage(message, filter, first, last, (remove & PM_REMOVE) != 0, false);
}

bool WindowSystem::translateMessage(const MSG* m) {
    if (!m || m->message != WM_KEYDOWN) return false;
    int press = static_cast<int>((static_cast<std::uintptr_t>(m->lParam) >> 16) & 0xFF);
    int given = press ? pressText_[press] : InputEvent::KEY_TEXT_US;
    char16_t c = 0;
    if (given >= 0) {
        c = static_cast<char16_t>(given);
    } else if (given == InputEvent::KEY_TEXT_US) {
        c = charOfKey(static_cast<int>(m->wParam), keys_[VK_SHIFT]);
        // Control and Alt with a letter or a digit type nothing here.
        if ((keys_[VK_CONTROL] || keys_[VK_MENU]) && c >= 32) c = 0;
    }
    if (!c) return false;
    queue_.push_front(MSG{m->hwnd, WM_CHAR, c, m->lParam & 0xFFFFFF, m->time, m->pt});
    return true;
}

LRESULT WindowSystem::dispatchMessage(const MSG* m) {
    if (!m) return 0;
    if (m->message == WM_TIMER && m->lParam) {
        reinterpret_cast<TIMERPROC>(m->lParam)(m->hwnd, WM_TIMER, static_cast<UINT>(m->wParam), static_cast<DWORD>(clock_));
        return 0;
    }
    return sendMessage(m->hwnd, m->message, m->wParam, m->lParam);
}

void WindowSystem::pump() {
    MSG m;
    while (nextMessage(&m, nullptr, 0, 0, true, false)) {
        if (m.message == WM_QUIT) {
            postQuit(static_cast<int>(m.wParam));  // left for the program's own loop
            break;
        }
        translateMessage(&m);
        dispatchMessage(&m);
    }
    paint();
}

UINT WindowSystem::setTimer(HWND handle, UINT id, UINT milliseconds, TIMERPROC procedure) {
    if (handle && !window(handle)) return 0;
    for (Timer& t : timers_)
        if (t.window == handle && t.id == id) {
            t.interval = milliseconds;
            t.due = clock_ + milliseconds;
            t.procedure = procedure;
            return id ? id : 1;
        }
    timers_.push_back({handle, id, milliseconds, clock_ + milliseconds, procedure});
    return id ? id : 1;
}

bool WindowSystem::killTimer(HWND handle, UINT id) {
    auto it = std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.window == handle && t.id == id; });
    if (it == timers_.end()) return false;
    timers_.erase(it);
    // A WM_TIMER already waiting for it goes too.
    queue_.erase(std::remove_if(queue_.begin(), queue_.end(),
                                [&](const MSG& m) { return m.message == WM_TIMER && m.hwnd == handle && m.wParam == id; }),
                 queue_.end());
    return true;
}

bool WindowSystem::hasTimer(HWND handle, UINT id) const {
    return std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.window == handle && t.id == id; });
}

// ---- focus ----

void WindowSystem::activate(HWND top, WORD how) {
    if (top == active_) return;
    HWND old = active_;
    active_ = top;
    if (old && window(old)) sendMessage(old, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(top));
    if (top && window(top) && active_ == top) sendMessage(top, WM_ACTIVATE, MAKEWPARAM(how, 0), reinterpret_cast<LPARAM>(old));
    dirty_ = true;
}

HWND WindowSystem::setFocus(HWND handle) {
    if (handle && !window(handle)) return nullptr;
    HWND before = focus_;
    if (handle) {
        HWND top = topLevelOf(handle);
        if (top != active_) activate(top, WA_ACTIVE);
    }
    if (focus_ == handle) return before;
    HWND old = focus_;
    focus_ = handle;
    if (old && window(old)) sendMessage(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(handle), 0);
    if (handle && focus_ == handle) {
        // Each dialog remembers where its focus was.
        for (Window* p = window(window(handle)->parent); p; p = window(p->parent))
            if (p->dialog) {
                p->dialogFocus = handle;
                break;
            }
        sendMessage(handle, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    }
    dirty_ = true;
    return before;
}

// ---- input ----

void WindowSystem::tapDown(int x, int y) {
    HWND target = windowAt(x, y);
    // Any open drop-down list closes when the tap is elsewhere.
    for (auto& [k, w] : windows_) {
        if (w->destroying || w->handle == target || w->className != COMBOBOX_CLASS || !w->control) continue;
        auto* combo = dynamic_cast<ComboState*>(w->control.get());
        if (combo && combo->dropped) sendMessage(w->handle, CB_SHOWDROPDOWN, FALSE, 0);
    }
    if (!target) return;
    for (HWND h = target; h; h = window(h)->parent)
        if (!isEnabled(h)) return;  // disabled windows, and those under a modal box, take no taps
    RECT r = screenRect(target);
    POINT origin = clientOrigin(*window(target));
    capture_ = target;
    postMessage(target, WM_LBUTTONDOWN, 1, MAKELPARAM(static_cast<WORD>(x - r.left - origin.x), static_cast<WORD>(y - r.top - origin.y)));
}

void WindowSystem::tapUp(int x, int y) {
    HWND target = capture_ ? capture_ : windowAt(x, y);
    capture_ = nullptr;
    if (!target || !window(target)) return;
    RECT r = screenRect(target);
    POINT origin = clientOrigin(*window(target));
    postMessage(target, WM_LBUTTONUP, 0, MAKELPARAM(static_cast<WORD>(x - r.left - origin.x), static_cast<WORD>(y - r.top - origin.y)));
}

void WindowSystem::tap(int x, int y) {
    tapDown(x, y);
    tapUp(x, y);
}

void WindowSystem::tapMove(int x, int y) {
    // A stylus has no hover: only a tap in progress moves anything.
    if (!capture_ || !window(capture_)) return;
    RECT r = screenRect(capture_);
    POINT origin = clientOrigin(*window(capture_));
    postMessage(capture_, WM_MOUSEMOVE, MK_LBUTTON,
                MAKELPARAM(static_cast<WORD>(x - r.left - origin.x), static_cast<WORD>(y - r.top - origin.y)));
}

void WindowSystem::wheel(int x, int y, int delta) {
    HWND target = nullptr;
    for (auto& [k, w] : windows_) {
        if (w->destroying || w->className != COMBOBOX_CLASS || !w->control) continue;
        auto* combo = dynamic_cast<ComboState*>(w->control.get());
        if (combo && combo->dropped) target = w->handle;
    }
    if (!target) target = windowAt(x, y);
    if (!target) target = focus_;
    for (HWND h = target; h; h = window(h)->parent)
        if (!isEnabled(h)) return;
    if (target)
        postMessage(target, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<std::int16_t>(delta))),
                    MAKELPARAM(static_cast<WORD>(x), static_cast<WORD>(y)));
}

void WindowSystem::keyDown(int vk, int text) {
    HWND target = focus_ ? focus_ : active_;
    if (!target) {
        keys_[vk & 0xFF] = true;
        return;
    }
    LPARAM lParam = 1;
    if (text != InputEvent::KEY_TEXT_US) {
        nextPress_ = nextPress_ % 255 + 1;
        pressText_[nextPress_] = text;
        lParam |= static_cast<LPARAM>(nextPress_) << 16;
    }
    postMessage(target, WM_KEYDOWN, static_cast<WPARAM>(vk), lParam);
}

void WindowSystem::keyUp(int vk) {
    HWND target = focus_ ? focus_ : active_;
    if (target) postMessage(target, WM_KEYUP, static_cast<WPARAM>(vk), static_cast<LPARAM>(0xC0000001u));
    else keys_[vk & 0xFF] = false;
}

void WindowSystem::key(int vk) {
    keyDown(vk);
    keyUp(vk);
}

void WindowSystem::character(char16_t c) {
    HWND target = focus_ ? focus_ : active_;
    if (target) postMessage(target, WM_CHAR, c, 1);
}

void WindowSystem::type(const std::u16string& text) {
    for (char16_t c : text) input_.push_back({InputEvent::Character, 0, 0, c});
}

void WindowSystem::script(const std::vector<InputEvent>& events) { input_.insert(input_.end(), events.begin(), events.end()); }

void WindowSystem::deliverInput(const InputEvent& e) {
    switch (e.kind) {
    case InputEvent::TapDown: tapDown(e.x, e.y); break;
    case InputEvent::TapUp: tapUp(e.x, e.y); break;
    case InputEvent::TapMove: tapMove(e.x, e.y); break;
    case InputEvent::Wheel: wheel(e.x, e.y, e.code); break;
    case InputEvent::KeyDown: keyDown(e.code, e.text); break;
    case InputEvent::Text: character(static_cast<char16_t>(e.code)); break;
    case InputEvent::KeyUp: keyUp(e.code); break;
    case InputEvent::Character: {
        int vk;
        bool shift;
        // The focus may move between characters, so each is sent to where it is now.
        if (keyOfChar(static_cast<char16_t>(e.code), vk, shift)) {
            if (shift) keyDown(VK_SHIFT);
            keyDown(vk);
            keyUp(vk);
            if (shift) keyUp(VK_SHIFT);
        } else {
            character(static_cast<char16_t>(e.code));
        }
        break;
    }
    }
}

bool WindowSystem::takeInput() {
    if (input_.empty()) return false;
    InputEvent e = input_.front();
    input_.pop_front();
    deliverInput(e);
    return true;
}

// ---- GDI objects ----

HBITMAP WindowSystem::addBitmap(Bitmap b) {
    std::uintptr_t h = nextObject_;
    nextObject_ += 4;
    bitmaps_[h] = std::move(b);
    return reinterpret_cast<HBITMAP>(h);
}

const Bitmap* WindowSystem::bitmap(HBITMAP handle) const {
    auto it = bitmaps_.find(slot(handle));
    return it == bitmaps_.end() ? nullptr : &it->second;
}

HIMAGELIST WindowSystem::createImageList(int width, int height) {
    if (width <= 0 || height <= 0) return nullptr;
    std::uintptr_t h = nextObject_;
    nextObject_ += 4;
    imageLists_[h] = ImageList{width, height, {}};
    return reinterpret_cast<HIMAGELIST>(h);
}

int WindowSystem::addToImageList(HIMAGELIST list, HBITMAP image) {
    auto it = imageLists_.find(slot(list));
    const Bitmap* b = bitmap(image);
    if (it == imageLists_.end() || !b || b->width <= 0 || b->height <= 0) return -1;
    ImageList& l = it->second;
    // A strip wider than one image holds several, side by side.
    int count = std::max(1, b->width / l.width);
    int first = static_cast<int>(l.images.size());
    for (int i = 0; i < count; ++i) {
        Bitmap part{l.width, l.height, std::vector<std::uint32_t>(static_cast<std::size_t>(l.width) * l.height, 0)};
        for (int y = 0; y < l.height && y < b->height; ++y)
            for (int x = 0; x < l.width && i * l.width + x < b->width; ++x)
                part.pixels[static_cast<std::size_t>(y) * l.width + x] = b->pixels[static_cast<std::size_t>(y) * b->width + i * l.width + x];
        l.images.push_back(std::move(part));
    }
    dirty_ = true;
    return first;
}

const ImageList* WindowSystem::imageList(HIMAGELIST list) const {
    auto it = imageLists_.find(slot(list));
    return it == imageLists_.end() ? nullptr : &it->second;
}

bool WindowSystem::deleteObject(void* object) {
    return bitmaps_.erase(slot(object)) == 1 || imageLists_.erase(slot(object)) == 1;
}

int WindowSystem::commandBarHeight() const { return 26 * dpi() / 96; }

void WindowSystem::paint(bool force) {
    if (!dirty_ && !force) return;
    FrameBuffer f = frame();
    if (!f.pixels) return;
    paintScreen(*this, f);
    dirty_ = false;
}

}  // namespace sim
