// Single-line and multi-line edits, and the editing a combo box's field shares.
#include "sim/windows/controls/edit.h"

#include <algorithm>
#include <string>

#include "sim/windows/controls/control.h"
#include "sim/windows/painter.h"
#include "sim/windows/scroll_bar.h"

namespace sim {

using namespace ce;
using control::notify;
using control::scaled;
using control::ws;
using control::xOf;
using control::yOf;

namespace control {

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
    RECT bar;
    if (editScrollBar(*w, bar)) r.right = bar.left - 1;
    return r;
}

int lineHeight() { return ws().baseUnitY(); }

int visibleLines(const Window* w) {
    RECT area = textArea(w);
    return std::max(1, static_cast<int>((area.bottom - area.top) / lineHeight()));
}

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
        int visible = visibleLines(w);
        if (line < s->firstLine) s->firstLine = line;
        if (line >= s->firstLine + visible) s->firstLine = line - visible + 1;
        s->firstLine = editLineRange(*w, *s).clamp(s->firstLine);
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

bool editCommon(Window* w, EditState* s, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
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

}  // namespace control

using control::editCommon;
using control::editInput;
using control::multiline;
using control::visibleLines;

bool editScrollBar(const Window& w, RECT& bar) {
    if (!multiline(&w) || !(w.style & WS_VSCROLL)) return false;
    RECT r = clientRect(w);
    int width = std::min(scaled(13), (r.right - r.left) / 2);
    bar = {r.right - width, r.top, r.right, r.bottom};
    return true;
}

ScrollRange editLineRange(const Window& w, const EditState& s) {
    return {static_cast<int>(editLines(w.text).size()), visibleLines(&w), s.firstLine};
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

LRESULT editProcedure(HWND h, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* w = ws().window(h);
    if (!w) return 0;
    EditState* s = stateOf<EditState>(w);
    auto scrollTo = [&](int first) {
        first = editLineRange(*w, *s).clamp(first);
        if (first != s->firstLine) ws().invalidate(h);
        s->firstLine = first;
    };
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
    case WM_LBUTTONDOWN: {
        RECT area;
        if (editScrollBar(*w, area)) {
            ScrollRange range = editLineRange(*w, *s);
            ScrollBar bar(area, area.right - area.left, range);
            switch (bar.partAt(xOf(lParam), yOf(lParam))) {
            case ScrollPart::None:
                if (xOf(lParam) < area.left) break;
                return 0;
            case ScrollPart::Thumb: s->dragOffset = yOf(lParam) - bar.thumb.top; return 0;
            case ScrollPart::LineUp: scrollTo(s->firstLine - 1); return 0;
            case ScrollPart::LineDown: scrollTo(s->firstLine + 1); return 0;
            case ScrollPart::PageUp: scrollTo(scrolled(range, SB_PAGEUP)); return 0;
            case ScrollPart::PageDown: scrollTo(scrolled(range, SB_PAGEDOWN)); return 0;
            }
        }
        editInput(w, s, message, wParam, lParam);
        return 0;
    }
    case WM_MOUSEMOVE: {
        RECT area;
        if (s->dragOffset < 0 || !editScrollBar(*w, area)) return 0;
        ScrollRange range = editLineRange(*w, *s);
        scrollTo(ScrollBar(area, area.right - area.left, range).positionForThumbTop(yOf(lParam) - s->dragOffset, range));
        return 0;
    }
    case WM_LBUTTONUP: s->dragOffset = -1; return 0;
    case WM_VSCROLL:
        if (!multiline(w)) return 0;
        scrollTo(scrolled(editLineRange(*w, *s), LOWORD(wParam)));
        return 0;
    case WM_MOUSEWHEEL:
        if (!multiline(w)) return ws().defWindowProc(h, message, wParam, lParam);
        // Three lines a notch.
        scrollTo(s->firstLine - 3 * static_cast<std::int16_t>(HIWORD(wParam)) / WHEEL_DELTA);
        return 0;
    case EM_LINESCROLL:
        if (!multiline(w)) return FALSE;
        scrollTo(s->firstLine + static_cast<int>(static_cast<LONG_PTR>(lParam)));
        return TRUE;
    case WM_KEYDOWN:
        if (multiline(w) && (wParam == VK_PRIOR || wParam == VK_NEXT)) {
            scrollTo(scrolled(editLineRange(*w, *s), wParam == VK_PRIOR ? SB_PAGEUP : SB_PAGEDOWN));
            return 0;
        }
        editInput(w, s, message, wParam, lParam);
        return 0;
    case WM_CHAR:
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

}  // namespace sim
