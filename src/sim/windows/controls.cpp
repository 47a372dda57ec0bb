// The built-in controls: what each message and each tap or key does to them.
#include "sim/windows/controls.h"

#include <algorithm>
#include <string>

#include "sim/windows/painter.h"

namespace sim {

using namespace ce;

namespace {

WindowSystem& ws() { return windowSystem(); }

int xOf(LPARAM l) { return static_cast<std::int16_t>(LOWORD(static_cast<std::uintptr_t>(l))); }
int yOf(LPARAM l) { return static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(l))); }

void notify(HWND h, WORD code) {
    Window* w = ws().window(h);
    if (w && w->parent) ws().sendMessage(w->parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(w->id), code), reinterpret_cast<LPARAM>(h));
}

LRESULT notifyHeader(HWND h, UINT code) {
    Window* w = ws().window(h);
    if (!w || !w->parent) return 0;
    NMHDR header{h, static_cast<UINT>(w->id), code};
    return ws().sendMessage(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&header));
}

int scaled(int v) { return v * ws().dpi() / 96; }

// ---- buttons ----

DWORD buttonType(const Window* w) { return w->style & BS_TYPEMASK; }

void uncheckGroup(HWND button) {
    Window* w = ws().window(button);
    Window* parent = ws().window(w->parent);
    if (!parent) return;
    const std::vector<HWND>& items = parent->children;
    std::size_t pos = std::find(items.begin(), items.end(), button) - items.begin();
    std::size_t start = pos;
    while (start > 0 && !(ws().window(items[start])->style & WS_GROUP)) --start;
    std::size_t end = pos + 1;
    while (end < items.size() && !(ws().window(items[end])->style & WS_GROUP)) ++end;
    for (std::size_t i = start; i < end; ++i) {
        Window* other = ws().window(items[i]);
        if (i != pos && other->className == BUTTON_CLASS && buttonType(other) == BS_AUTORADIOBUTTON) {
            stateOf<ButtonState>(other)->check = BST_UNCHECKED;
            ws().invalidate(items[i]);
        }
    }
}

void click(HWND h) {
    Window* w = ws().window(h);
    ButtonState* s = stateOf<ButtonState>(w);
    switch (buttonType(w)) {
    case BS_AUTOCHECKBOX: s->check = s->check ? BST_UNCHECKED : BST_CHECKED; break;
    case BS_AUTO3STATE: s->check = (s->check + 1) % 3; break;
    case BS_AUTORADIOBUTTON:
        s->check = BST_CHECKED;
        uncheckGroup(h);
        break;
    default: break;
    }
    ws().invalidate(h);
    notify(h, BN_CLICKED);
}

// ---- edits ----

bool multiline(const Window* w) { return w->className == EDIT_CLASS && (w->style & ES_MULTILINE); }

void clampSelection(const Window* w, EditState* s) {
    s->selStart = std::min(s->selStart, w->text.size());
    s->selEnd = std::min(s->selEnd, w->text.size());
}

// The text area inside the border and margins, in client pixels.
RECT textArea(const Window* w) {
    RECT r = clientRect(*w);
    int margin = scaled(2);
    r.left += margin;
    r.right -= margin;
    if (w->className == COMBOBOX_CLASS) r.right -= scaled(14);
    return r;
}

int lineHeight() { return ws().baseUnitY(); }

// Line and column of a text position.
void lineColumn(const std::u16string& text, std::size_t pos, int& line, std::size_t& lineStart) {
    line = 0;
    lineStart = 0;
    for (std::size_t i = 0; i < pos && i < text.size(); ++i)
        if (text[i] == u'\n') {
            ++line;
            lineStart = i + 1;
        }
}

void scrollCaret(Window* w, EditState* s) {
    RECT area = textArea(w);
    if (multiline(w)) {
        int line;
        std::size_t start;
        lineColumn(w->text, s->selEnd, line, start);
        int visible = std::max(1, static_cast<int>((area.bottom - area.top) / lineHeight()));
        if (line < s->firstLine) s->firstLine = line;
        if (line >= s->firstLine + visible) s->firstLine = line - visible + 1;
    } else {
        int width = area.right - area.left;
        if (s->selEnd < s->firstChar) s->firstChar = s->selEnd;
        while (s->firstChar < s->selEnd &&
               textWidth(w->text.substr(s->firstChar, s->selEnd - s->firstChar), ws().fontPixels()) > width - 1)
            ++s->firstChar;
    }
    ws().invalidate(w->handle);
}

void replaceSelection(Window* w, EditState* s, std::u16string insert, bool user) {
    clampSelection(w, s);
    std::size_t a = std::min(s->selStart, s->selEnd), b = std::max(s->selStart, s->selEnd);
    std::size_t room = s->limit > w->text.size() - (b - a) ? s->limit - (w->text.size() - (b - a)) : 0;
    if (insert.size() > room) insert.resize(room);
    w->text.replace(a, b - a, insert);
    s->selStart = s->selEnd = a + insert.size();
    scrollCaret(w, s);
    if (user) notify(w->handle, w->className == COMBOBOX_CLASS ? CBN_EDITCHANGE : EN_CHANGE);
}

std::size_t positionAt(Window* w, EditState* s, int x, int y) {
    RECT area = textArea(w);
    std::size_t lineStart = 0;
    std::size_t lineEnd = w->text.size();
    std::size_t first = 0;
    if (multiline(w)) {
        int line = s->firstLine + std::max(0, (y - area.top)) / lineHeight();
        for (int i = 0; i < line && lineStart < w->text.size(); ++i) {
            std::size_t nl = w->text.find(u'\n', lineStart);
            if (nl == std::u16string::npos) {
                lineStart = w->text.size();
                break;
            }
            lineStart = nl + 1;
        }
        first = lineStart;
    } else {
        first = std::min(s->firstChar, w->text.size());
    }
    std::size_t nl = w->text.find_first_of(u"\r\n", first);
    lineEnd = nl == std::u16string::npos ? w->text.size() : nl;
    for (std::size_t i = first; i < lineEnd; ++i) {
        double right = textWidth(w->text.substr(first, i + 1 - first), ws().fontPixels());
        double left = textWidth(w->text.substr(first, i - first), ws().fontPixels());
        if (x - area.left < (left + right) / 2) return i;
    }
    return lineEnd;
}

// Typing, Backspace, the caret keys and taps, shared by edits and the edit part of a combo box.
bool editInput(Window* w, EditState* s, UINT message, WPARAM wParam, LPARAM lParam) {
    bool readOnly = (w->style & ES_READONLY) && w->className == EDIT_CLASS;
    clampSelection(w, s);
    switch (message) {
    case WM_CHAR: {
        char16_t c = static_cast<char16_t>(wParam);
        if (readOnly) return true;
        if (c == 8) {
            if (s->selStart == s->selEnd && s->selEnd > 0) {
                std::size_t from = s->selEnd - 1;
                if (w->text[from] == u'\n' && from > 0 && w->text[from - 1] == u'\r') --from;
                s->selStart = from;
            }
            replaceSelection(w, s, u"", true);
        } else if (c == u'\r') {
            if (multiline(w) && (w->style & ES_WANTRETURN)) replaceSelection(w, s, u"\r\n", true);
        } else if (c >= 32) {
            replaceSelection(w, s, std::u16string(1, c), true);
        }
        return true;
    }
    case WM_KEYDOWN: {
        std::size_t caret = s->selEnd;
        switch (static_cast<int>(wParam)) {
        case VK_LEFT:
            if (caret > 0) --caret;
            if (caret > 0 && w->text[caret] == u'\n' && w->text[caret - 1] == u'\r') --caret;
            break;
        case VK_RIGHT:
            if (caret < w->text.size()) ++caret;
            if (caret < w->text.size() && w->text[caret - 1] == u'\r' && w->text[caret] == u'\n') ++caret;
            break;
        case VK_HOME: caret = multiline(w) ? w->text.rfind(u'\n', caret ? caret - 1 : 0) + 1 : 0; break;
        case VK_END: caret = w->text.size(); break;
        case VK_DELETE:
            if (readOnly) return true;
            if (s->selStart == s->selEnd && caret < w->text.size()) s->selEnd = caret + 1;
            replaceSelection(w, s, u"", true);
            return true;
        default: return false;
        }
        if (caret > w->text.size()) caret = 0;
        s->selStart = s->selEnd = caret;
        scrollCaret(w, s);
        return true;
    }
    case WM_LBUTTONDOWN:
        ws().setFocus(w->handle);
        s->selStart = s->selEnd = positionAt(w, s, xOf(lParam), yOf(lParam));
        scrollCaret(w, s);
        return true;
    case EM_SETSEL: {
        auto start = static_cast<LONG_PTR>(wParam), end = static_cast<LONG_PTR>(lParam);
        if (start == -1) {
            s->selStart = s->selEnd;
        } else {
            auto size = static_cast<LONG_PTR>(w->text.size());
            if (end < 0 || end > size) end = size;
            if (start > size) start = size;
            s->selStart = static_cast<std::size_t>(start);
            s->selEnd = static_cast<std::size_t>(end);
        }
        ws().invalidate(w->handle);
        return true;
    }
    default: return false;
    }
}

LRESULT editCommon(Window* w, EditState* s, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case EM_GETSEL: {
        auto a = static_cast<DWORD>(std::min(s->selStart, s->selEnd)), b = static_cast<DWORD>(std::max(s->selStart, s->selEnd));
        if (wParam) *reinterpret_cast<DWORD*>(wParam) = a;
        if (lParam) *reinterpret_cast<DWORD*>(lParam) = b;
        result = static_cast<LRESULT>(MAKELPARAM(static_cast<WORD>(a), static_cast<WORD>(b)));
        return true;
    }
    case EM_REPLACESEL:
        replaceSelection(w, s, lParam ? std::u16string(reinterpret_cast<LPCWSTR>(lParam)) : std::u16string(), false);
        result = 0;
        return true;
    case EM_SCROLLCARET: scrollCaret(w, s); result = TRUE; return true;
    case EM_LIMITTEXT: s->limit = wParam ? wParam : 30000; result = 0; return true;
    case WM_SETTEXT:
        w->text = lParam ? std::u16string(reinterpret_cast<LPCWSTR>(lParam)) : std::u16string();
        if (w->text.size() > s->limit && w->className == EDIT_CLASS) w->text.resize(s->limit);
        s->selStart = s->selEnd = 0;
        s->firstChar = 0;
        s->firstLine = 0;
        ws().invalidate(w->handle);
        result = TRUE;
        return true;
    default: return false;
    }
}

}  // namespace

// ---- geometry ----

int captionHeight() { return scaled(18); }

POINT clientOrigin(const Window& w) {
    int inset = 0;
    if (w.exStyle & WS_EX_CLIENTEDGE) inset += 2;
    if (w.style & WS_BORDER) inset += 1;
    if ((w.style & WS_CAPTION) == WS_CAPTION || (w.exStyle & WS_EX_DLGMODALFRAME)) inset = 2;
    int top = inset + ((w.style & WS_CAPTION) == WS_CAPTION ? captionHeight() : 0);
    return {inset, top};
}

RECT clientRect(const Window& w) {
    POINT o = clientOrigin(w);
    int inset = o.x;
    LONG width = std::max<LONG>(0, w.rect.right - w.rect.left - o.x - inset);
    LONG height = std::max<LONG>(0, w.rect.bottom - w.rect.top - o.y - inset);
    return {0, 0, width, height};
}

int comboItemHeight() { return ws().baseUnitY() + 1; }

RECT dropListRect(const WindowSystem& system, HWND combo) {
    Window* w = system.window(combo);
    RECT r = system.screenRect(combo);
    auto* s = w ? dynamic_cast<ComboState*>(w->control.get()) : nullptr;
    int count = s ? static_cast<int>(s->items.size()) : 0;
    int listHeight = w ? static_cast<int>(w->userData) : 0;  // the height the template gave, less the field
    int shown = std::max(1, std::min(count, std::max(1, listHeight / comboItemHeight())));
    return {r.left, r.bottom, r.right, r.bottom + shown * comboItemHeight() + 2};
}

TabGeometry tabGeometry(const Window& tab) {
    auto* s = dynamic_cast<TabState*>(tab.control.get());
    int imageW = 16, imageH = 16, padX = 6, padY = 3;
    if (s) {
        padX = s->padX;
        padY = s->padY;
        if (const ImageList* l = ws().imageList(s->images)) {
            imageW = l->width;
            imageH = l->height;
        }
    }
    return {imageW + 2 * padX + 4, imageH + 2 * padY + 4};
}

std::vector<std::u16string> editLines(const std::u16string& text) {
    std::vector<std::u16string> lines(1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t c = text[i];
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
            lines.emplace_back();
        } else {
            lines.back().push_back(c);
        }
    }
    return lines;
}

// ---- procedures ----

LRESULT buttonProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    ButtonState* s = stateOf<ButtonState>(w);
    DWORD type = buttonType(w);
    switch (message) {
    case WM_GETDLGCODE:
        if (type == BS_GROUPBOX) return DLGC_STATIC;
        if (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) return DLGC_BUTTON | DLGC_RADIOBUTTON;
        if (type == BS_PUSHBUTTON) return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        if (type == BS_DEFPUSHBUTTON) return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        return DLGC_BUTTON;
    case BM_GETCHECK: return static_cast<LRESULT>(s->check);
    case BM_SETCHECK:
        if (type != BS_PUSHBUTTON && type != BS_DEFPUSHBUTTON && type != BS_GROUPBOX) s->check = wParam;
        ws().invalidate(h);
        return 0;
    case BM_GETSTATE: return static_cast<LRESULT>(s->check | (s->pushed ? 4 : 0) | (ws().focus() == h ? 8 : 0));
    case BM_SETSTATE: s->pushed = wParam != 0; ws().invalidate(h); return 0;
    case BM_CLICK: click(h); return 0;
    case WM_LBUTTONDOWN:
        if (type == BS_GROUPBOX) return 0;
        s->pushed = true;  // before the focus arrives, so a tapped radio is not clicked twice
        ws().setFocus(h);
        ws().invalidate(h);
        return 0;
    case WM_LBUTTONUP: {
        if (!s->pushed) return 0;
        s->pushed = false;
        RECT r = clientRect(*w);
        int x = xOf(lParam), y = yOf(lParam);
        ws().invalidate(h);
        if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) click(h);
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_SPACE && type != BS_GROUPBOX) {
            s->pushed = true;
            ws().invalidate(h);
        }
        return 0;
    case WM_KEYUP:
        if (wParam == VK_SPACE && s->pushed) {
            s->pushed = false;
            click(h);
        }
        return 0;
    case WM_SETFOCUS:
        ws().invalidate(h);
        if (w->style & BS_NOTIFY) notify(h, BN_SETFOCUS);
        // An automatic radio button reached by the keyboard is chosen.
        if (type == BS_AUTORADIOBUTTON && !s->pushed && !s->check) click(h);
        return 0;
    case WM_KILLFOCUS:
        s->pushed = false;
        ws().invalidate(h);
        if (w->style & BS_NOTIFY) notify(h, BN_KILLFOCUS);
        return 0;
    case WM_ENABLE: ws().invalidate(h); return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

LRESULT editProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    EditState* s = stateOf<EditState>(w);
    LRESULT result = 0;
    if (editCommon(w, s, message, wParam, lParam, result)) return result;
    switch (message) {
    case WM_GETDLGCODE: {
        LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
        // A multi-line edit that wants Return takes it from the dialog manager.
        auto* m = reinterpret_cast<const MSG*>(lParam);
        if (multiline(w) && (w->style & ES_WANTRETURN) && m && m->message == WM_KEYDOWN && m->wParam == VK_RETURN)
            code |= DLGC_WANTALLKEYS;
        return code;
    }
    case WM_CHAR:
    case WM_KEYDOWN:
    case WM_LBUTTONDOWN:
    case EM_SETSEL: editInput(w, s, message, wParam, lParam); return 0;
    case EM_FMTLINES: s->softBreaks = wParam != 0; return static_cast<LRESULT>(wParam);
    case EM_GETLINECOUNT: return static_cast<LRESULT>(editLines(w->text).size());
    case EM_GETFIRSTVISIBLELINE: return multiline(w) ? s->firstLine : static_cast<LRESULT>(s->firstChar);
    case WM_SETFOCUS:
        ws().invalidate(h);
        notify(h, EN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        ws().invalidate(h);
        notify(h, EN_KILLFOCUS);
        return 0;
    case WM_ENABLE: ws().invalidate(h); return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

LRESULT staticProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_GETDLGCODE) return DLGC_STATIC;
    if (message == WM_SETTEXT) ws().invalidate(h);
    return ws().defWindowProc(h, message, wParam, lParam);
}

LRESULT comboProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    ComboState* s = stateOf<ComboState>(w);
    auto count = static_cast<LRESULT>(s->items.size());
    auto select = [&](LRESULT index) {
        s->selection = static_cast<int>(index);
        w->text = index >= 0 ? s->items[static_cast<std::size_t>(index)] : std::u16string();
        s->selStart = 0;
        s->selEnd = w->text.size();
        s->firstChar = 0;
        ws().invalidate(h);
    };
    auto drop = [&](bool open) {
        if (s->dropped == open) return;
        s->dropped = open;
        if (open && s->selection >= 0) s->firstItem = s->selection;
        ws().invalidate(h);
        notify(h, open ? CBN_DROPDOWN : CBN_CLOSEUP);
    };
    LRESULT result = 0;
    if (message != WM_SETTEXT && editCommon(w, s, message, wParam, lParam, result)) return result;
    switch (message) {
    case WM_CREATE: {
        // The template's height is the open list's; the window itself is the field.
        int field = (12 * ws().baseUnitY() + 4) / 8;
        int total = w->rect.bottom - w->rect.top;
        w->userData = std::max(0, total - field);
        w->rect.bottom = w->rect.top + field;
        return 0;
    }
    case WM_GETDLGCODE: return DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
    case CB_ADDSTRING:
        if (!lParam) return CB_ERR;
        s->items.emplace_back(reinterpret_cast<LPCWSTR>(lParam));
        ws().invalidate(h);
        return count;
    case CB_DELETESTRING:
        if (static_cast<LRESULT>(wParam) >= count) return CB_ERR;
        s->items.erase(s->items.begin() + static_cast<std::ptrdiff_t>(wParam));
        if (s->selection == static_cast<int>(wParam)) s->selection = -1;
        else if (s->selection > static_cast<int>(wParam)) --s->selection;
        return count - 1;
    case CB_RESETCONTENT: s->items.clear(); s->selection = -1; ws().invalidate(h); return 0;
    case CB_GETCOUNT: return count;
    case CB_GETCURSEL: return s->selection;
    case CB_SETCURSEL: {
        auto index = static_cast<LRESULT>(static_cast<LONG_PTR>(wParam));
        if (index < 0 || index >= count) {
            select(-1);
            return CB_ERR;
        }
        select(index);
        return index;
    }
    case CB_GETLBTEXTLEN:
        return static_cast<LRESULT>(wParam) < count ? static_cast<LRESULT>(s->items[wParam].size()) : CB_ERR;
    case CB_GETLBTEXT: {
        if (static_cast<LRESULT>(wParam) >= count || !lParam) return CB_ERR;
        const std::u16string& item = s->items[wParam];
        std::copy(item.begin(), item.end(), reinterpret_cast<WCHAR*>(lParam));
        reinterpret_cast<WCHAR*>(lParam)[item.size()] = 0;
        return static_cast<LRESULT>(item.size());
    }
    case CB_SHOWDROPDOWN: drop(wParam != 0); return TRUE;
    case CB_GETDROPPEDSTATE: return s->dropped;
    case WM_SETTEXT:
        editCommon(w, s, message, wParam, lParam, result);
        return result;
    case WM_LBUTTONDOWN: {
        int x = xOf(lParam), y = yOf(lParam);
        RECT r = clientRect(*w);
        if (s->dropped && y >= r.bottom) {
            int item = s->firstItem + (y - r.bottom - 1) / comboItemHeight();
            if (item >= 0 && item < count) {
                select(item);
                notify(h, CBN_SELCHANGE);
                drop(false);
            } else {
                drop(false);
            }
            return 0;
        }
        ws().setFocus(h);
        if (x >= r.right - scaled(14)) {
            drop(!s->dropped);
        } else {
            drop(false);
            editInput(w, s, message, wParam, lParam);
        }
        return 0;
    }
    case WM_KEYDOWN:
        if (wParam == VK_DOWN || wParam == VK_UP) {
            LRESULT next = s->selection + (wParam == VK_DOWN ? 1 : -1);
            if (s->selection < 0) next = 0;
            if (next >= 0 && next < count && next != s->selection) {
                select(next);
                notify(h, CBN_SELCHANGE);
            }
            return 0;
        }
        if ((wParam == VK_RETURN || wParam == VK_ESCAPE) && s->dropped) {
            drop(false);
            return 0;
        }
        editInput(w, s, message, wParam, lParam);
        return 0;
    case WM_CHAR:
    case EM_SETSEL: editInput(w, s, message, wParam, lParam); return 0;
    case WM_SETFOCUS:
        ws().invalidate(h);
        notify(h, CBN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        drop(false);
        ws().invalidate(h);
        notify(h, CBN_KILLFOCUS);
        return 0;
    case WM_ENABLE:
        if (!wParam) drop(false);
        ws().invalidate(h);
        return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

LRESULT progressProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    ProgressState* s = stateOf<ProgressState>(w);
    auto clamp = [&](int v) { return std::max(s->low, std::min(s->high, v)); };
    int old = s->position;
    switch (message) {
    case PBM_SETRANGE: {
        LRESULT previous = MAKELPARAM(static_cast<WORD>(s->low), static_cast<WORD>(s->high));
        s->low = LOWORD(static_cast<std::uintptr_t>(lParam));
        s->high = HIWORD(static_cast<std::uintptr_t>(lParam));
        s->position = clamp(s->position);
        ws().invalidate(h);
        return previous;
    }
    case PBM_SETPOS: s->position = clamp(static_cast<int>(wParam)); ws().invalidate(h); return old;
    case PBM_DELTAPOS: s->position = clamp(s->position + static_cast<int>(wParam)); ws().invalidate(h); return old;
    case PBM_SETSTEP: {
        int previous = s->step;
        s->step = static_cast<int>(static_cast<std::int16_t>(wParam));
        return previous;
    }
    case PBM_STEPIT: {
        int next = s->position + s->step;
        // Past the end the bar starts over.
        if (next > s->high && s->high > s->low) next = s->low + (next - s->low) % (s->high - s->low);
        s->position = clamp(next);
        ws().invalidate(h);
        return old;
    }
    case PBM_GETPOS: return s->position;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

LRESULT tabProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    TabState* s = stateOf<TabState>(w);
    auto count = static_cast<int>(s->items.size());
    auto change = [&](int to) {
        if (to < 0 || to >= count || to == s->selection) return;
        if (notifyHeader(h, TCN_SELCHANGING)) return;  // the parent refused
        if (!ws().window(h)) return;
        s->selection = to;
        ws().invalidate(h);
        notifyHeader(h, TCN_SELCHANGE);
    };
    switch (message) {
    case TCM_INSERTITEMW: {
        auto* item = reinterpret_cast<const TCITEMW*>(lParam);
        if (!item) return -1;
        int at = std::min(static_cast<int>(wParam), count);
        TabState::Item entry;
        if ((item->mask & TCIF_TEXT) && item->pszText) entry.text = item->pszText;
        if (item->mask & TCIF_IMAGE) entry.image = item->iImage;
        if (item->mask & TCIF_PARAM) entry.param = item->lParam;
        s->items.insert(s->items.begin() + at, entry);
        if (s->selection < 0) s->selection = 0;
        else if (at <= s->selection && count > 0) ++s->selection;
        ws().invalidate(h);
        return at;
    }
    case TCM_GETITEMW:
    case TCM_SETITEMW: {
        auto* item = reinterpret_cast<TCITEMW*>(lParam);
        auto index = static_cast<int>(wParam);
        if (!item || index < 0 || index >= count) return FALSE;
        TabState::Item& entry = s->items[static_cast<std::size_t>(index)];
        if (message == TCM_SETITEMW) {
            if ((item->mask & TCIF_TEXT) && item->pszText) entry.text = item->pszText;
            if (item->mask & TCIF_IMAGE) entry.image = item->iImage;
            if (item->mask & TCIF_PARAM) entry.param = item->lParam;
            ws().invalidate(h);
            return TRUE;
        }
        if (item->mask & TCIF_IMAGE) item->iImage = entry.image;
        if (item->mask & TCIF_PARAM) item->lParam = entry.param;
        if ((item->mask & TCIF_TEXT) && item->pszText && item->cchTextMax > 0) {
            std::size_t n = std::min(entry.text.size(), static_cast<std::size_t>(item->cchTextMax - 1));
            std::copy(entry.text.begin(), entry.text.begin() + static_cast<std::ptrdiff_t>(n), item->pszText);
            item->pszText[n] = 0;
        }
        return TRUE;
    }
    case TCM_GETITEMCOUNT: return count;
    case TCM_GETCURSEL: return s->selection;
    case TCM_SETCURSEL: {
        int old = s->selection;
        auto index = static_cast<int>(wParam);
        if (index < 0 || index >= count) return -1;
        s->selection = index;
        ws().invalidate(h);
        return old;
    }
    case TCM_SETIMAGELIST: {
        HIMAGELIST old = s->images;
        s->images = reinterpret_cast<HIMAGELIST>(lParam);
        ws().invalidate(h);
        return reinterpret_cast<LRESULT>(old);
    }
    case TCM_SETPADDING:
        s->padX = LOWORD(static_cast<std::uintptr_t>(lParam));
        s->padY = HIWORD(static_cast<std::uintptr_t>(lParam));
        ws().invalidate(h);
        return 0;
    case TCM_ADJUSTRECT: {
        auto* r = reinterpret_cast<RECT*>(lParam);
        if (!r) return 0;
        int tabs = tabGeometry(*w).tabWidth;
        int sign = wParam ? -1 : 1;  // TRUE: display area to window rectangle
        r->left += sign * (tabs + 2);
        r->top += sign * 2;
        r->right -= sign * 2;
        r->bottom -= sign * 2;
        return 0;
    }
    case WM_LBUTTONDOWN: {
        TabGeometry g = tabGeometry(*w);
        int x = xOf(lParam), y = yOf(lParam);
        if ((w->style & 0x1000) /* TCS_FOCUSONBUTTONDOWN */) ws().setFocus(h);
        if (x >= 0 && x < g.tabWidth && y >= 0 && y / g.tabHeight < count) change(y / g.tabHeight);
        return 0;
    }
    case WM_KEYDOWN: {
        NMTCKEYDOWN key{};
        key.hdr = {h, static_cast<UINT>(w->id), TCN_KEYDOWN};
        key.wVKey = static_cast<WORD>(wParam);
        key.flags = static_cast<UINT>(lParam);
        // The parent may take the key (it then moves the focus); otherwise the
        // arrow keys move through the tabs.
        if (w->parent && ws().sendMessage(w->parent, WM_NOTIFY, static_cast<WPARAM>(w->id), reinterpret_cast<LPARAM>(&key)))
            return 0;
        bool vertical = (w->style & TCS_VERTICAL) != 0;
        if (wParam == static_cast<WPARAM>(vertical ? VK_DOWN : VK_RIGHT)) change(s->selection + 1);
        if (wParam == static_cast<WPARAM>(vertical ? VK_UP : VK_LEFT)) change(s->selection - 1);
        return 0;
    }
    case WM_GETDLGCODE: return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_ENABLE: ws().invalidate(h); return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

LRESULT upDownProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    UpDownState* s = stateOf<UpDownState>(w);
    auto low = [&] { return std::min(s->lower, s->upper); };
    auto high = [&] { return std::max(s->lower, s->upper); };
    auto readBuddy = [&] {
        if (!(w->style & UDS_SETBUDDYINT) || !ws().window(s->buddy)) return;
        const std::u16string& text = ws().window(s->buddy)->text;
        if (text.empty() || text.size() > 9) return;
        int value = 0;
        for (char16_t c : text) {
            if (c < u'0' || c > u'9') return;
            value = value * 10 + (c - u'0');
        }
        s->position = value;
    };
    auto setPosition = [&](int value) {
        if (value < low()) value = (w->style & UDS_WRAP) ? high() : low();
        if (value > high()) value = (w->style & UDS_WRAP) ? low() : high();
        s->position = value;
        if ((w->style & UDS_SETBUDDYINT) && ws().window(s->buddy)) {
            std::u16string text;
            for (char c : std::to_string(value)) text.push_back(static_cast<char16_t>(c));
            ws().sendMessage(s->buddy, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
        }
        ws().invalidate(h);
    };
    switch (message) {
    case UDM_SETBUDDY: {
        HWND old = s->buddy;
        s->buddy = reinterpret_cast<HWND>(wParam);
        Window* buddy = ws().window(s->buddy);
        if (buddy && (w->style & (UDS_ALIGNRIGHT | UDS_ALIGNLEFT)) && buddy->parent == w->parent) {
            // Beside the buddy, as tall as it, which gives up the room.
            int width = scaled(UPDOWN_WIDTH);
            RECT b = buddy->rect;
            if (w->style & UDS_ALIGNRIGHT) {
                w->rect = {b.right - width, b.top, b.right, b.bottom};
                buddy->rect.right = std::max(b.left, b.right - width);
            } else {
                w->rect = {b.left, b.top, b.left + width, b.bottom};
                buddy->rect.left = std::min(b.right, b.left + width);
            }
            ws().invalidate(h);
        }
        return reinterpret_cast<LRESULT>(old);
    }
    case UDM_GETBUDDY: return reinterpret_cast<LRESULT>(s->buddy);
    case UDM_SETRANGE:
        s->upper = static_cast<std::int16_t>(LOWORD(static_cast<std::uintptr_t>(lParam)));
        s->lower = static_cast<std::int16_t>(HIWORD(static_cast<std::uintptr_t>(lParam)));
        return 0;
    case UDM_GETRANGE: return MAKELPARAM(static_cast<WORD>(s->upper), static_cast<WORD>(s->lower));
    case UDM_SETPOS: {
        int old = s->position;
        setPosition(static_cast<std::int16_t>(LOWORD(static_cast<std::uintptr_t>(lParam))));
        return old;
    }
    case UDM_GETPOS: readBuddy(); return s->position;
    case WM_LBUTTONDOWN: {
        RECT r = clientRect(*w);
        bool up = yOf(lParam) < (r.bottom - r.top) / 2;
        s->pressed = up ? 1 : -1;
        readBuddy();
        int direction = s->upper >= s->lower ? 1 : -1;  // up goes toward the upper limit
        setPosition(s->position + (up ? direction : -direction));
        if (w->parent)
            ws().sendMessage(w->parent, WM_VSCROLL, MAKEWPARAM(4 /* SB_THUMBPOSITION */, static_cast<WORD>(s->position)),
                             reinterpret_cast<LPARAM>(h));
        return 0;
    }
    case WM_LBUTTONUP: s->pressed = 0; ws().invalidate(h); return 0;
    case WM_ENABLE: ws().invalidate(h); return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

LRESULT commandBarProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    CommandBarState* s = stateOf<CommandBarState>(w);
    RECT r = clientRect(*w);
    int box = r.bottom - r.top;
    bool inClose = s->closeBox && xOf(lParam) >= r.right - box;
    switch (message) {
    case WM_LBUTTONDOWN: s->closePressed = inClose; ws().invalidate(h); return 0;
    case WM_LBUTTONUP:
        // The close box closes the window the bar belongs to.
        if (s->closePressed && inClose && w->parent) ws().postMessage(w->parent, WM_CLOSE, 0, 0);
        s->closePressed = false;
        ws().invalidate(h);
        return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

LRESULT dialogProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    if (w->dialogProcedure) {
        BOOL handled = w->dialogProcedure(h, message, wParam, lParam);
        if (!ws().window(h)) return 0;
        if (handled) return message == WM_GETDLGCODE ? handled : ws().getWindowLong(h, DWL_MSGRESULT);
    }
    switch (message) {
    case WM_SETFOCUS:
    case WM_ACTIVATE: {
        if (message == WM_ACTIVATE && LOWORD(wParam) == WA_INACTIVE) return 0;
        HWND to = w->dialogFocus && ws().isChildOf(h, w->dialogFocus) && ws().isEnabled(w->dialogFocus)
                      ? w->dialogFocus
                      : ws().nextTabItem(h, nullptr, false);
        if (to) ws().setFocus(to);
        return 0;
    }
    case WM_CLOSE: ws().postMessage(h, WM_COMMAND, MAKEWPARAM(2 /* IDCANCEL */, 0), 0); return 0;
    default: return ws().defWindowProc(h, message, wParam, lParam);
    }
}

}  // namespace sim
