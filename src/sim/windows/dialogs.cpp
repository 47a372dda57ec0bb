// The dialog manager: dialogs from templates, keyboard navigation, modal message boxes.
#include <algorithm>

#include "sim/resources/dialog_template.h"
#include "sim/windows/controls.h"
#include "sim/windows/painter.h"
#include "sim/windows/window_system.h"

namespace sim {

using namespace ce;

namespace {

// Dialog units to pixels, rounded as MulDiv rounds.
int scale(int value, int base, int divisor) {
    long long product = static_cast<long long>(value) * base;
    long long half = divisor / 2;
    return static_cast<int>(product >= 0 ? (product + half) / divisor : -((-product + half) / divisor));
}

bool isTabCandidate(const WindowSystem& ws, HWND h) {
    Window* w = ws.window(h);
    return w && (w->style & WS_TABSTOP) && w->visibleStyle() && w->enabledStyle();
}


constexpr int ID_OK = 1, ID_CANCEL = 2, ID_YES = 6, ID_NO = 7;

BOOL messageBoxProcedure(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message == WM_COMMAND) {
        int id = LOWORD(wParam);
        auto* state = dynamic_cast<MessageBoxState*>(windowSystem().window(dialog)->control.get());
        UINT buttons = state ? state->type & MB_TYPEMASK : MB_OK;
        bool allowed = id == ID_OK ? (buttons == MB_OK || buttons == MB_OKCANCEL)
                       : id == ID_CANCEL ? buttons == MB_OKCANCEL
                                         : buttons == MB_YESNO && (id == ID_YES || id == ID_NO);
        // Escape on a box with only OK answers OK; on Yes/No it does nothing.
        if (id == ID_CANCEL && buttons == MB_OK) {
            id = ID_OK;
            allowed = true;
        }
        if (allowed) windowSystem().endDialog(dialog, id);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

HWND WindowSystem::createDialog(const void* bytes, std::size_t size, HWND parent, DLGPROC procedure, LPARAM parameter,
                                HINSTANCE instance) {
    DialogTemplate t;
    if (!bytes || !parseDialogTemplate(bytes, size, t)) return nullptr;
    // Positions are dialog units: x in quarters of the dialog font's average
    // character width, y in eighths of its height (base units baseX_ by baseY_:
    // 6 by 13 pixels for the 8-point DejaVu Sans Condensed at 96 dots per inch).
    auto px = [&](int v) { return scale(v, baseX_, 4); };
    auto py = [&](int v) { return scale(v, baseY_, 8); };
    DWORD style = t.style & ~WS_VISIBLE;
    std::u16string cls = t.windowClass.name.empty() ? std::u16string(DIALOG_CLASS) : t.windowClass.name;
    HWND dialog = createWindow(t.exStyle, cls, t.title, style, px(t.x), py(t.y), px(t.cx), py(t.cy), parent, 0, instance,
                               nullptr);
    Window* d = window(dialog);
    if (!d) return nullptr;
    d->dialog = true;
    d->wordBytes = std::max(d->wordBytes, 12);
    d->dialogProcedure = procedure;
    for (const DialogItemTemplate& item : t.items) {
        std::u16string itemClass = item.windowClass.ordinal ? predefinedClassName(item.windowClass.ordinal) : item.windowClass.name;
        HWND control = createWindow(item.exStyle, itemClass, item.text.name, item.style | WS_CHILD, px(item.x), py(item.y),
                                    px(item.cx), py(item.cy), dialog, item.id, instance, nullptr);
        if (!control) {
            destroyWindow(dialog);
            return nullptr;
        }
    }
    HWND first = nextTabItem(dialog, nullptr, false);
    LRESULT wantsFocus = procedure ? procedure(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), parameter) : TRUE;
    if (!window(dialog)) return nullptr;
    // Asked for, the focus goes to the first control at once (the procedure may have
    // changed the order), hidden or not; only a hidden DS_CONTROL page waits.
    constexpr DWORD DS_CONTROL = 0x0400;
    if (wantsFocus && (!(t.style & DS_CONTROL) || (t.style & WS_VISIBLE))) {
        HWND to = nextTabItem(dialog, nullptr, false);
        if (!to) to = nextGroupItem(dialog, nullptr, false);
        if (to) setFocus(to);
    } else if (wantsFocus && first && window(first)) {
        window(dialog)->dialogFocus = first;
    }
    if (t.style & WS_VISIBLE) showWindow(dialog, SW_SHOW);
    return dialog;
}

HWND WindowSystem::nextTabItem(HWND dialog, HWND control, bool previous) const {
    Window* d = window(dialog);
    if (!d) return nullptr;
    const std::vector<HWND>& items = d->children;
    std::vector<HWND> candidates;
    for (HWND h : items)
        if (isTabCandidate(*this, h)) candidates.push_back(h);
    if (candidates.empty()) return nullptr;
    if (!control || std::find(items.begin(), items.end(), control) == items.end()) {
        // A control inside one of the dialog's controls counts as that control.
        HWND inside = nullptr;
        for (HWND h : items)
            if (control && isChildOf(h, control)) inside = h;
        if (!inside) return previous ? candidates.back() : candidates.front();
        control = inside;
    }
    auto pos = std::find(items.begin(), items.end(), control) - items.begin();
    std::size_t n = items.size();
    for (std::size_t step = 1; step <= n; ++step) {
        std::size_t i = previous ? (pos + n - step) % n : (pos + step) % n;
        if (isTabCandidate(*this, items[i])) return items[i];
    }
    return control;
}

// Groups run from a WS_GROUP control up to the next one, round the end of the
// dialog's list to its start; hidden and disabled controls are passed over.
HWND WindowSystem::nextGroupItem(HWND dialog, HWND control, bool previous) const {
    Window* d = window(dialog);
    if (!d || d->children.empty()) return nullptr;
    const std::vector<HWND>& items = d->children;
    auto usable = [&](HWND h) { return window(h)->visibleStyle() && window(h)->enabledStyle(); };
    auto starts = [&](HWND h) { return (window(h)->style & WS_GROUP) != 0; };
    if (!control) {
        // From nothing: the first control, if it can take the focus.
        if (usable(items.front())) return items.front();
        control = items.front();
    }
    auto it = std::find(items.begin(), items.end(), control);
    if (it == items.end()) return nullptr;
    std::size_t n = items.size(), pos = static_cast<std::size_t>(it - items.begin());
    // The group's first control: this one or the nearest WS_GROUP one before it.
    std::size_t start = pos;
    for (std::size_t step = 0; step < n && !starts(items[start]); ++step) start = (start + n - 1) % n;
    // Its length: up to the next WS_GROUP control after the start.
    std::size_t length = 1;
    while (length < n && !starts(items[(start + length) % n])) ++length;
    std::size_t offset = (pos + n - start) % n;
    for (std::size_t step = 1; step < length; ++step) {
        std::size_t i = (start + (previous ? offset + length - step : offset + step) % length) % n;
        if (usable(items[i])) return items[i];
    }
    return control;
}

// The arrow keys' move within a group: the group ends at the list's end, and a
// static or a group box is never the next control.
HWND WindowSystem::nextArrowItem(HWND dialog, HWND control, bool previous) const {
    Window* d = window(dialog);
    if (!d) return nullptr;
    const std::vector<HWND>& items = d->children;
    auto it = std::find(items.begin(), items.end(), control);
    if (it == items.end()) return nullptr;
    std::size_t pos = it - items.begin();
    // The group runs from a WS_GROUP control (or the first) up to the next one.
    std::size_t start = pos;
    while (start > 0 && !(window(items[start])->style & WS_GROUP)) --start;
    std::size_t end = pos + 1;
    while (end < items.size() && !(window(items[end])->style & WS_GROUP)) ++end;
    std::size_t n = end - start;
    for (std::size_t step = 1; step < n; ++step) {
        std::size_t i = start + (previous ? (pos - start + n - step) % n : (pos - start + step) % n);
        Window* w = window(items[i]);
        bool groupBox = w->className == BUTTON_CLASS && (w->style & BS_TYPEMASK) == BS_GROUPBOX;
        bool isStatic = w->className == STATIC_CLASS;
        if (w->visibleStyle() && w->enabledStyle() && !groupBox && !isStatic) return items[i];
    }
    return control;
}

bool WindowSystem::isDialogMessage(HWND dialog, MSG* m) {
    if (!m || !window(dialog)) return false;
    if (m->hwnd != dialog && !isChildOf(dialog, m->hwnd)) return false;
    if (m->message == WM_KEYDOWN) {
        LRESULT code = sendMessage(m->hwnd, WM_GETDLGCODE, m->wParam, reinterpret_cast<LPARAM>(m));
        int vk = static_cast<int>(m->wParam);
        bool handled = false;
        if (!(code & DLGC_WANTALLKEYS)) {
            if (vk == VK_TAB && !(code & DLGC_WANTTAB)) {
                HWND next = nextTabItem(dialog, focus_, keys_[VK_SHIFT]);
                if (next) {
                    setFocus(next);
                    if (sendMessage(next, WM_GETDLGCODE, 0, 0) & DLGC_HASSETSEL) sendMessage(next, EM_SETSEL, 0, -1);
                }
                handled = true;
            } else if ((vk == VK_LEFT || vk == VK_RIGHT || vk == VK_UP || vk == VK_DOWN) && !(code & DLGC_WANTARROWS)) {
                HWND next = nextArrowItem(dialog, focus_, vk == VK_LEFT || vk == VK_UP);
                if (next && next != focus_) {
                    setFocus(next);
                    // Moving onto an automatic radio button chooses it.
                    Window* n = window(next);
                    if (n && n->className == BUTTON_CLASS && (n->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON &&
                        sendMessage(next, BM_GETCHECK, 0, 0) != BST_CHECKED)
                        sendMessage(next, BM_CLICK, 0, 0);
                }
                handled = true;
            } else if (vk == VK_RETURN) {
                Window* f = window(focus_);
                if (f && f->className == BUTTON_CLASS && ((f->style & BS_TYPEMASK) <= BS_DEFPUSHBUTTON))
                    sendMessage(focus_, BM_CLICK, 0, 0);
                else
                    sendMessage(dialog, WM_COMMAND, MAKEWPARAM(ID_OK, 0), 0);
                handled = true;
            } else if (vk == VK_ESCAPE) {
                sendMessage(dialog, WM_COMMAND, MAKEWPARAM(ID_CANCEL, 0), 0);
                handled = true;
            }
        }
        if (handled) return true;
    }
    translateMessage(m);
    dispatchMessage(m);
    return true;
}

bool WindowSystem::endDialog(HWND dialog, int result) {
    Window* d = window(dialog);
    if (!d || !d->dialog) return false;
    d->ended = true;
    d->endResult = result;
    return true;
}

int WindowSystem::messageBox(HWND owner, const std::u16string& text, const std::u16string& caption, UINT type) {
    UINT buttons = type & MB_TYPEMASK;
    const int noAnswer = buttons == MB_YESNO ? ID_NO : buttons == MB_OKCANCEL ? ID_CANCEL : ID_OK;
    struct ButtonChoice {
        int id;
        const char16_t* text;
    };
    std::vector<ButtonChoice> choices;
    if (buttons == MB_YESNO)
        choices = {{ID_YES, u"Yes"}, {ID_NO, u"No"}};
    else if (buttons == MB_OKCANCEL)
        choices = {{ID_OK, u"OK"}, {ID_CANCEL, u"Cancel"}};
    else
        choices = {{ID_OK, u"OK"}};

    // Size: the text's widest line beside the icon, the buttons in a row below.
    const int pad = 8 * dpi() / 96;
    const int icon = (type & 0xF0) ? 32 * dpi() / 96 : 0;
    const int buttonW = scale(50, baseX_, 4), buttonH = scale(14, baseY_, 8);
    // Lines break at line feeds, and between words where they would not fit the screen.
    const int widest = std::max(baseX_ * 8, screenWidth() - 4 - 3 * pad - icon);
    std::u16string shown;
    int textW = 0, lines = 0;
    for (const std::u16string& paragraph : editLines(text)) {
        std::u16string line;
        std::size_t at = 0;
        while (at <= paragraph.size()) {
            std::size_t space = paragraph.find(u' ', at);
            std::u16string word = paragraph.substr(at, space == std::u16string::npos ? std::u16string::npos : space - at);
            std::u16string joined = line.empty() ? word : line + u' ' + word;
            if (!line.empty() && textWidth(joined, fontPixels_) > widest) {
                shown += line + u'\n';
                textW = std::max(textW, static_cast<int>(textWidth(line, fontPixels_)) + 1);
                ++lines;
                joined = word;
            }
            line = joined;
            if (space == std::u16string::npos) break;
            at = space + 1;
        }
        shown += line + u'\n';
        textW = std::max(textW, static_cast<int>(textWidth(line, fontPixels_)) + 1);
        ++lines;
    }
    shown.pop_back();
    textW = std::min(textW, widest);
    int textH = lines * baseY_;
    int clientW = std::max(pad + (icon ? icon + pad : 0) + textW + pad,
                           static_cast<int>(choices.size()) * (buttonW + pad) + pad);
    clientW = std::max(clientW, static_cast<int>(textWidth(caption, fontPixels_)) + 2 * pad + captionHeight());
    clientW = std::min(clientW, screenWidth() - 4);
    int clientH = pad + std::max(textH, icon) + pad + buttonH + pad;
    int w = clientW + 2 * 2, h = clientH + captionHeight() + 2 * 2;
    int x = (screenWidth() - w) / 2, y = std::max(0, (screenHeight() - h) / 2);

    HWND ownerTop = topLevelOf(owner);
    HWND box = createWindow(WS_EX_DLGMODALFRAME, DIALOG_CLASS, caption, WS_POPUP | WS_CAPTION | DS_MODALFRAME, x, y, w, h,
                            nullptr, 0, nullptr, nullptr);
    Window* b = window(box);
    if (!b) return 0;
    b->dialog = true;
    b->wordBytes = 12;
    b->dialogProcedure = messageBoxProcedure;
    stateOf<MessageBoxState>(b)->type = type;
    if (icon) {
        HWND iconWindow = createWindow(0, STATIC_CLASS, u"", WS_CHILD | WS_VISIBLE | SS_ICON, pad, pad, icon, icon, box, 0xFFFF,
                                       nullptr, nullptr);
        if (Window* iw = window(iconWindow)) stateOf<StaticState>(iw)->icon = type & 0xF0;
    }
    int textX = pad + (icon ? icon + pad : 0);
    createWindow(0, STATIC_CLASS, shown, WS_CHILD | WS_VISIBLE | SS_LEFT, textX, pad + std::max(0, (icon - textH) / 2),
                 clientW - textX - pad, textH, box, 0xFFFF, nullptr, nullptr);
    int rowW = static_cast<int>(choices.size()) * buttonW + (static_cast<int>(choices.size()) - 1) * pad;
    int bx = (clientW - rowW) / 2, by = clientH - pad - buttonH;
    HWND firstButton = nullptr;
    for (const ButtonChoice& s : choices) {
        HWND button = createWindow(0, BUTTON_CLASS, s.text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, bx, by, buttonW,
                                   buttonH, box, s.id, nullptr, nullptr);
        if (!firstButton) firstButton = button;
        bx += buttonW + pad;
    }

    // Modal: the owner takes no input until the box is answered.
    bool ownerWasEnabled = ownerTop && isEnabled(ownerTop);
    if (ownerWasEnabled) enable(ownerTop, false);
    showWindow(box, SW_SHOW);
    if (firstButton) setFocus(firstButton);
    int answer = noAnswer;
    MSG m;
    for (;;) {
        Window* bw = window(box);
        if (!bw) break;
        if (bw->ended) {
            answer = bw->endResult;
            break;
        }
        if (!getMessage(&m, nullptr, 0, 0)) {
            // The program is ending (or nothing more can come): the quit stays for
            // the program's own loop and the box gives its "no" answer.
            postQuit(static_cast<int>(m.wParam));
            break;
        }
        if (!isDialogMessage(box, &m)) {
            translateMessage(&m);
            dispatchMessage(&m);
        }
    }
    if (ownerWasEnabled && window(ownerTop)) enable(ownerTop, true);
    destroyWindow(box);
    if (ownerTop && window(ownerTop)) activate(ownerTop, WA_ACTIVE);
    paint();
    return answer;
}

}  // namespace sim
