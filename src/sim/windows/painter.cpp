// Painting the visible windows into the LCD frame with cairo: grey 3-D buttons,
// white edits, the blue progress fill, tabs with their images, the focus shown and
// disabled controls greyed, as the handheld draws them.
#include "sim/windows/painter.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "sim/cairo_library.h"
#include "sim/utf.h"
#include "sim/windows/controls.h"
#include "sim/windows/scroll_bar.h"

namespace sim {

using namespace ce;

namespace {

constexpr const char* FACE = "DejaVu Sans Condensed";

struct Colour {
    double r, g, b;
};
constexpr Colour BLACK{0, 0, 0};
constexpr Colour WHITE{1, 1, 1};
constexpr Colour FACE_GREY{0xC0 / 255.0, 0xC0 / 255.0, 0xC0 / 255.0};
constexpr Colour SHADOW{0x80 / 255.0, 0x80 / 255.0, 0x80 / 255.0};
constexpr Colour NAVY{0, 0, 0x80 / 255.0};
constexpr Colour TRACK{0xE0 / 255.0, 0xE0 / 255.0, 0xE0 / 255.0};
constexpr Colour DESKTOP{0, 0x80 / 255.0, 0x80 / 255.0};

void useFont(cairo_t* cr, double pixels, bool bold = false) {
    cairo().select_font_face(cr, FACE, CAIRO_FONT_SLANT_NORMAL, bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
    cairo().set_font_size(cr, pixels);
    cairo_font_options_t* options = cairo().font_options_create();
    cairo().font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo().font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_ON);
    cairo().set_font_options(cr, options);
    cairo().font_options_destroy(options);
}

// A scratch context for measuring text.
cairo_t* measurer() {
    static cairo_surface_t* surface = cairo().image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1);
    static cairo_t* cr = cairo().create(surface);
    return cr;
}

void colour(cairo_t* cr, Colour c) { cairo().set_source_rgb(cr, c.r, c.g, c.b); }

void fill(cairo_t* cr, double x, double y, double w, double h, Colour c) {
    if (w <= 0 || h <= 0) return;
    colour(cr, c);
    cairo().rectangle(cr, x, y, w, h);
    cairo().fill(cr);
}

// One-pixel lines on pixel centres.
void hline(cairo_t* cr, int x0, int x1, int y, Colour c) { fill(cr, x0, y, x1 - x0, 1, c); }
void vline(cairo_t* cr, int x, int y0, int y1, Colour c) { fill(cr, x, y0, 1, y1 - y0, c); }

// A raised (buttons) or sunken (edges) 3-D frame of two pixels.
void frame3d(cairo_t* cr, const RECT& r, bool raised) {
    Colour outerLight = raised ? WHITE : SHADOW, outerDark = raised ? BLACK : WHITE;
    Colour innerLight = raised ? FACE_GREY : BLACK, innerDark = raised ? SHADOW : FACE_GREY;
    int l = r.left, t = r.top, rr = r.right - 1, b = r.bottom - 1;
    hline(cr, l, rr, t, outerLight);
    vline(cr, l, t, b, outerLight);
    hline(cr, l, rr + 1, b, outerDark);
    vline(cr, rr, t, b + 1, outerDark);
    hline(cr, l + 1, rr - 1, t + 1, innerLight);
    vline(cr, l + 1, t + 1, b - 1, innerLight);
    hline(cr, l + 1, rr, b - 1, innerDark);
    vline(cr, rr - 1, t + 1, b, innerDark);
}

void border(cairo_t* cr, const RECT& r, Colour c) {
    hline(cr, r.left, r.right, r.top, c);
    hline(cr, r.left, r.right, r.bottom - 1, c);
    vline(cr, r.left, r.top, r.bottom, c);
    vline(cr, r.right - 1, r.top, r.bottom, c);
}

void focusRect(cairo_t* cr, const RECT& r) {
    colour(cr, BLACK);
    for (int x = r.left; x < r.right; x += 2) {
        cairo().rectangle(cr, x, r.top, 1, 1);
        cairo().rectangle(cr, x, r.bottom - 1, 1, 1);
    }
    for (int y = r.top; y < r.bottom; y += 2) {
        cairo().rectangle(cr, r.left, y, 1, 1);
        cairo().rectangle(cr, r.right - 1, y, 1, 1);
    }
    cairo().fill(cr);
}

struct Painter {
    WindowSystem& system;
    cairo_t* cr;
    double font;
    TextMetrics metrics;

    // Text with its top-left corner at (x, y); greyed with a white emboss when disabled.
    void text(const std::u16string& s, double x, double y, Colour c, bool disabled = false) {
        if (s.empty()) return;
        std::string u = toUtf8(s);
        if (disabled) {
            colour(cr, WHITE);
            cairo().move_to(cr, x + 1, y + 1 + metrics.ascent);
            cairo().show_text(cr, u.c_str());
            c = SHADOW;
        }
        colour(cr, c);
        cairo().move_to(cr, x, y + metrics.ascent);
        cairo().show_text(cr, u.c_str());
    }
    double width(const std::u16string& s) { return textWidth(s, font); }

    void image(const Bitmap& b, int x, int y) {
        cairo_surface_t* s = cairo().image_surface_create(CAIRO_FORMAT_ARGB32, b.width, b.height);
        cairo().surface_flush(s);
        unsigned char* data = cairo().image_surface_get_data(s);
        int stride = cairo().image_surface_get_stride(s);
        for (int row = 0; row < b.height; ++row) {
            auto* line = reinterpret_cast<std::uint32_t*>(data + row * stride);
            for (int col = 0; col < b.width; ++col) {
                std::uint32_t p = b.pixels[static_cast<std::size_t>(row) * b.width + col];
                std::uint32_t a = p >> 24;
                // Premultiplied, as cairo keeps it.
                auto mul = [a](std::uint32_t v) { return v * a / 255; };
                line[col] = (a << 24) | (mul((p >> 16) & 0xFF) << 16) | (mul((p >> 8) & 0xFF) << 8) | mul(p & 0xFF);
            }
        }
        cairo().surface_mark_dirty(s);
        cairo().set_source_surface(cr, s, x, y);
        cairo().paint(cr);
        cairo().surface_destroy(s);
    }

    void window(HWND h) {
        Window* w = system.window(h);
        if (!w || !w->visibleStyle()) return;
        RECT r = system.screenRect(h);
        cairo().save(cr);
        cairo().rectangle(cr, r.left, r.top, r.right - r.left, r.bottom - r.top);
        cairo().clip(cr);
        self(*w, r);
        // The last of the children lies lowest.
        for (auto it = w->children.rbegin(); it != w->children.rend(); ++it) window(*it);
        cairo().restore(cr);
    }

    bool enabled(const Window& w) {
        for (const Window* p = &w; p; p = system.window(p->parent))
            if (!p->enabledStyle() && p->isChild()) return false;
        return w.enabledStyle();
    }

    void self(Window& w, const RECT& r) {
        const std::u16string& cls = w.className;
        if (cls == BUTTON_CLASS) return button(w, r);
        if (cls == EDIT_CLASS) return edit(w, r);
        if (cls == STATIC_CLASS) return staticText(w, r);
        if (cls == COMBOBOX_CLASS) return combo(w, r);
        if (cls == PROGRESS_CLASS) return progress(w, r);
        if (cls == TAB_CLASS) return tabs(w, r);
        if (cls == UPDOWN_CLASS) return upDown(w, r);
        if (cls == COMMANDBAR_CLASS) return commandBar(w, r);
        // Dialogs and the program's own windows: their background, caption and frame.
        fill(cr, r.left, r.top, r.right - r.left, r.bottom - r.top, FACE_GREY);
        if (w.background == reinterpret_cast<HBRUSH>(static_cast<std::uintptr_t>(0x80 + WHITE_BRUSH)))
            fill(cr, r.left, r.top, r.right - r.left, r.bottom - r.top, WHITE);
        if ((w.style & WS_CAPTION) == WS_CAPTION || (w.exStyle & WS_EX_DLGMODALFRAME)) {
            frame3d(cr, r, true);
            int ch = captionHeight();
            fill(cr, r.left + 2, r.top + 2, r.right - r.left - 4, ch, NAVY);
            cairo().save(cr);
            useFont(cr, font, true);
            colour(cr, WHITE);
            cairo().move_to(cr, r.left + 6, r.top + 2 + (ch + metrics.ascent - (metrics.height - metrics.ascent)) / 2.0);
            cairo().show_text(cr, toUtf8(w.text).c_str());
            cairo().restore(cr);
        }
    }

    void button(Window& w, const RECT& r) {
        auto* s = stateOf<ButtonState>(&w);
        DWORD type = w.style & BS_TYPEMASK;
        bool on = enabled(w);
        bool focused = system.focus() == w.handle;
        int height = r.bottom - r.top;
        double ty = r.top + (height - metrics.height) / 2.0;
        if (type == BS_GROUPBOX) {
            double top = r.top + metrics.height / 2.0;
            RECT outer{r.left, static_cast<LONG>(top), r.right - 1, r.bottom - 1};
            border(cr, outer, SHADOW);
            RECT inner{r.left + 1, static_cast<LONG>(top) + 1, r.right, r.bottom};
            border(cr, inner, WHITE);
            double tw = width(w.text);
            fill(cr, r.left + 6, r.top, tw + 4, metrics.height, FACE_GREY);
            text(w.text, r.left + 8, r.top, BLACK, !on);
            return;
        }
        if (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
            type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON) {
            fill(cr, r.left, r.top, r.right - r.left, height, FACE_GREY);
            int box = std::min(height, std::max(9, 13 * system.dpi() / 96));
            int bx = r.left, by = r.top + (height - box) / 2;
            bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
            Colour inside = on && !s->pushed ? WHITE : FACE_GREY;
            if (radio) {
                double cx = bx + box / 2.0, cy = by + box / 2.0, rad = box / 2.0;
                colour(cr, SHADOW);
                cairo().arc(cr, cx, cy, rad, 0, 2 * M_PI);
                cairo().fill(cr);
                colour(cr, inside);
                cairo().arc(cr, cx, cy, rad - 1.5, 0, 2 * M_PI);
                cairo().fill(cr);
                if (s->check) {
                    colour(cr, on ? BLACK : SHADOW);
                    cairo().arc(cr, cx, cy, std::max(1.5, rad / 2.5), 0, 2 * M_PI);
                    cairo().fill(cr);
                }
            } else {
                RECT boxRect{bx, by, bx + box, by + box};
                frame3d(cr, boxRect, false);
                fill(cr, bx + 2, by + 2, box - 4, box - 4, inside);
                if (s->check) {
                    colour(cr, on ? BLACK : SHADOW);
                    cairo().set_line_width(cr, std::max(1.5, box / 6.0));
                    cairo().move_to(cr, bx + box * 0.25, by + box * 0.5);
                    cairo().line_to(cr, bx + box * 0.42, by + box * 0.7);
                    cairo().line_to(cr, bx + box * 0.75, by + box * 0.28);
                    cairo().stroke(cr);
                }
            }
            double tx = bx + box + 4;
            text(w.text, tx, ty, BLACK, !on);
            if (focused) {
                RECT fr{static_cast<LONG>(tx) - 2, static_cast<LONG>(ty) - 1, static_cast<LONG>(tx + width(w.text)) + 2,
                        static_cast<LONG>(ty) + metrics.height + 1};
                // A box without text shows the focus around the box.
                if (w.text.empty()) fr = RECT{bx - 1, by - 1, bx + box + 1, by + box + 1};
                focusRect(cr, fr);
            }
            return;
        }
        // Push buttons.
        fill(cr, r.left, r.top, r.right - r.left, height, FACE_GREY);
        if (s->pushed) {
            border(cr, r, BLACK);
            RECT inner{r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
            border(cr, inner, SHADOW);
        } else {
            frame3d(cr, r, true);
        }
        double tw = width(w.text);
        double tx = r.left + (r.right - r.left - tw) / 2.0 + (s->pushed ? 1 : 0);
        text(w.text, std::floor(tx), std::floor(ty) + (s->pushed ? 1 : 0), BLACK, !on);
        if (focused) focusRect(cr, RECT{r.left + 3, r.top + 3, r.right - 3, r.bottom - 3});
    }

    void fieldFrame(const Window& w, const RECT& r) {
        if (w.exStyle & WS_EX_CLIENTEDGE) {
            frame3d(cr, r, false);
        } else if (w.style & WS_BORDER) {
            border(cr, r, BLACK);
        }
    }

    // The text of an edit (or of a combo box's edit part) with its selection and caret.
    void editText(Window& w, EditState* s, const RECT& area, bool on, bool focused) {
        cairo().save(cr);
        cairo().rectangle(cr, area.left, area.top, area.right - area.left, area.bottom - area.top);
        cairo().clip(cr);
        std::size_t a = std::min(s->selStart, s->selEnd), b = std::max(s->selStart, s->selEnd);
        bool multi = w.className == EDIT_CLASS && (w.style & ES_MULTILINE);
        std::vector<std::u16string> lines;
        std::vector<std::size_t> starts;
        if (multi) {
            std::size_t start = 0;
            for (std::size_t i = 0; i <= w.text.size(); ++i) {
                if (i == w.text.size() || w.text[i] == u'\n') {
                    std::size_t end = i;
                    if (end > start && w.text[end - 1] == u'\r') --end;
                    lines.push_back(w.text.substr(start, end - start));
                    starts.push_back(start);
                    start = i + 1;
                }
            }
        } else {
            std::size_t first = std::min(s->firstChar, w.text.size());
            lines.push_back(w.text.substr(first));
            starts.push_back(first);
        }
        int lineH = metrics.height;
        int firstLine = multi ? s->firstLine : 0;
        double y = multi ? area.top + 1 : area.top + (area.bottom - area.top - lineH) / 2.0;
        for (std::size_t i = static_cast<std::size_t>(std::max(0, firstLine)); i < lines.size(); ++i) {
            if (y > area.bottom) break;
            const std::u16string& line = lines[i];
            std::size_t ls = starts[i], le = ls + line.size();
            double x = area.left;
            if (focused && a < b && a < le && b > ls) {
                std::size_t sa = std::max(a, ls) - ls, sb = std::min(b, le) - ls;
                double x0 = x + width(line.substr(0, sa)), x1 = x + width(line.substr(0, sb));
                fill(cr, x0, y, x1 - x0, lineH, NAVY);
                text(line.substr(0, sa), x, y, BLACK, false);
                text(line.substr(sa, sb - sa), x0, y, WHITE, false);
                text(line.substr(sb), x1, y, BLACK, false);
            } else {
                text(line, x, y, on ? BLACK : SHADOW, false);
            }
            if (focused && s->selEnd >= ls && s->selEnd <= le) {
                double cx = std::floor(x + width(line.substr(0, s->selEnd - ls)));
                fill(cr, cx, y, 1, lineH, BLACK);
            }
            y += lineH;
        }
        cairo().restore(cr);
    }

    void edit(Window& w, const RECT& r) {
        auto* s = stateOf<EditState>(&w);
        bool on = enabled(w);
        bool readOnly = (w.style & ES_READONLY) != 0;
        fill(cr, r.left, r.top, r.right - r.left, r.bottom - r.top, on && !readOnly ? WHITE : FACE_GREY);
        fieldFrame(w, r);
        POINT o = clientOrigin(w);
        RECT area{r.left + o.x + 2, r.top + o.y, r.right - o.x - 2, r.bottom - o.x};
        RECT barArea;
        if (editScrollBar(w, barArea)) {
            int x0 = r.left + o.x, y0 = r.top + o.y;
            RECT onScreen{barArea.left + x0, barArea.top + y0, barArea.right + x0, barArea.bottom + y0};
            scrollBar(ScrollBar(onScreen, onScreen.right - onScreen.left, editLineRange(w, *s)), on);
            area.right = onScreen.left - 1;
        }
        editText(w, s, area, on, system.focus() == w.handle);
    }

    void arrow(const RECT& r, bool up, bool on) {
        double cx = (r.left + r.right) / 2.0, cy = (r.top + r.bottom) / 2.0;
        double size = std::max(2.0, std::min(r.right - r.left, r.bottom - r.top) / 4.0);
        colour(cr, on ? BLACK : SHADOW);
        if (up) {
            cairo().move_to(cr, cx - size, cy + size / 2);
            cairo().line_to(cr, cx + size, cy + size / 2);
            cairo().line_to(cr, cx, cy - size / 2);
        } else {
            cairo().move_to(cr, cx - size, cy - size / 2);
            cairo().line_to(cr, cx + size, cy - size / 2);
            cairo().line_to(cr, cx, cy + size / 2);
        }
        cairo().close_path(cr);
        cairo().fill(cr);
    }

    void staticText(Window& w, const RECT& r) {
        bool on = enabled(w);
        if ((w.style & 0xF) == SS_ICON) return icon(stateOf<StaticState>(&w)->icon, r);
        // Lines break at line feeds; long lines are cut by the clip.
        double y = r.top;
        for (const std::u16string& line : editLines(w.text)) {
            double x = r.left;
            if ((w.style & 0xF) == SS_CENTER) x = r.left + (r.right - r.left - width(line)) / 2.0;
            if ((w.style & 0xF) == SS_RIGHT) x = r.right - width(line);
            text(line, x, y, BLACK, !on);
            y += metrics.height;
        }
    }

    void icon(UINT kind, const RECT& r) {
        double size = std::min(r.right - r.left, r.bottom - r.top);
        double cx = r.left + size / 2.0, cy = r.top + size / 2.0;
        std::u16string mark;
        Colour body = NAVY;
        if (kind == MB_ICONHAND) {
            body = {0.8, 0, 0};
            mark = u"X";
        } else if (kind == MB_ICONEXCLAMATION) {
            colour(cr, {1, 0.85, 0});
            cairo().move_to(cr, cx, r.top + 1);
            cairo().line_to(cr, r.left + size - 1, r.top + size - 2);
            cairo().line_to(cr, r.left + 1, r.top + size - 2);
            cairo().close_path(cr);
            cairo().fill_preserve(cr);
            colour(cr, BLACK);
            cairo().set_line_width(cr, 1);
            cairo().stroke(cr);
            mark = u"!";
        } else {
            mark = kind == MB_ICONQUESTION ? u"?" : u"i";
        }
        if (kind != MB_ICONEXCLAMATION) {
            colour(cr, body);
            cairo().arc(cr, cx, cy, size / 2 - 1, 0, 2 * M_PI);
            cairo().fill(cr);
        }
        cairo().save(cr);
        useFont(cr, size * 0.6, true);
        cairo_text_extents_t e;
        std::string u = toUtf8(mark);
        cairo().text_extents(cr, u.c_str(), &e);
        colour(cr, kind == MB_ICONEXCLAMATION ? BLACK : WHITE);
        cairo().move_to(cr, cx - e.width / 2 - e.x_bearing, cy - e.height / 2 - e.y_bearing + (kind == MB_ICONEXCLAMATION ? size * 0.1 : 0));
        cairo().show_text(cr, u.c_str());
        cairo().restore(cr);
    }

    void combo(Window& w, const RECT& r) {
        auto* s = stateOf<ComboState>(&w);
        bool on = enabled(w);
        fill(cr, r.left, r.top, r.right - r.left, r.bottom - r.top, on ? WHITE : FACE_GREY);
        fieldFrame(w, r);
        POINT o = clientOrigin(w);
        int bw = 14 * system.dpi() / 96;
        RECT button{r.right - o.x - bw, r.top + o.y, r.right - o.x, r.bottom - o.x};
        fill(cr, button.left, button.top, bw, button.bottom - button.top, FACE_GREY);
        frame3d(cr, button, !s->dropped);
        arrow(button, false, on);
        RECT area{r.left + o.x + 2, r.top + o.y, button.left - 1, r.bottom - o.x};
        editText(w, s, area, on, system.focus() == w.handle);
    }

    void dropList(Window& w) {
        auto* s = stateOf<ComboState>(&w);
        DropList d = sim::dropList(system, w.handle);
        RECT list = d.list;
        fill(cr, list.left, list.top, list.right - list.left, list.bottom - list.top, WHITE);
        border(cr, list, BLACK);
        int itemH = comboItemHeight();
        // Items wider than the list end at its border (or at the scroll bar).
        cairo().save(cr);
        cairo().rectangle(cr, d.items.left, d.items.top, d.items.right - d.items.left, d.items.bottom - d.items.top);
        cairo().clip(cr);
        int y = d.items.top;
        int last = std::min(static_cast<int>(s->items.size()), s->firstItem + d.range.page);
        for (int i = std::max(0, s->firstItem); i < last; ++i, y += itemH) {
            bool chosen = i == s->selection;
            if (chosen) fill(cr, d.items.left, y, d.items.right - d.items.left, itemH, NAVY);
            text(s->items[static_cast<std::size_t>(i)], d.items.left + 2, y, chosen ? WHITE : BLACK);
        }
        cairo().restore(cr);
        if (d.scrolls) scrollBar(ScrollBar(d.bar, d.bar.right - d.bar.left, d.range), true);
    }

    // Arrows at both ends, the track between, the thumb where the view stands.
    void scrollBar(const ScrollBar& b, bool on) {
        const RECT& bar = b.bar;
        fill(cr, bar.left, bar.top, bar.right - bar.left, bar.bottom - bar.top, b.hasThumb ? TRACK : FACE_GREY);
        for (const RECT& button : {b.up, b.down}) {
            fill(cr, button.left, button.top, button.right - button.left, button.bottom - button.top, FACE_GREY);
            frame3d(cr, button, true);
        }
        arrow(b.up, true, on && b.hasThumb);
        arrow(b.down, false, on && b.hasThumb);
        if (b.hasThumb) {
            fill(cr, b.thumb.left, b.thumb.top, b.thumb.right - b.thumb.left, b.thumb.bottom - b.thumb.top, FACE_GREY);
            frame3d(cr, b.thumb, true);
        }
    }

    void progress(Window& w, const RECT& r) {
        auto* s = stateOf<ProgressState>(&w);
        fill(cr, r.left, r.top, r.right - r.left, r.bottom - r.top, FACE_GREY);
        fieldFrame(w, r);
        POINT o = clientOrigin(w);
        int inside = r.right - r.left - 2 * o.x;
        int span = s->high - s->low;
        int filled = span > 0 ? static_cast<int>(static_cast<long long>(inside) * (s->position - s->low) / span) : 0;
        fill(cr, r.left + o.x, r.top + o.y, filled, r.bottom - r.top - o.y - o.x, NAVY);
    }

    void tabs(Window& w, const RECT& r) {
        auto* s = stateOf<TabState>(&w);
        TabGeometry g = tabGeometry(w);
        const ImageList* images = system.imageList(s->images);
        fill(cr, r.left, r.top, r.right - r.left, r.bottom - r.top, FACE_GREY);
        // The page frame to the right of the tab column.
        RECT page{r.left + g.tabWidth, r.top, r.right, r.bottom};
        frame3d(cr, page, true);
        bool focused = system.focus() == w.handle;
        // The chosen tab last, standing out and joined to the page.
        std::vector<int> order;
        for (int i = 0; i < static_cast<int>(s->items.size()); ++i)
            if (i != s->selection) order.push_back(i);
        if (s->selection >= 0 && s->selection < static_cast<int>(s->items.size())) order.push_back(s->selection);
        for (int i : order) {
            const TabState::Item& item = s->items[static_cast<std::size_t>(i)];
            bool chosen = i == s->selection;
            RECT tab{r.left + (chosen ? 0 : 2), r.top + i * g.tabHeight - (chosen ? 2 : 0), r.left + g.tabWidth + (chosen ? 2 : 0),
                     r.top + (i + 1) * g.tabHeight + (chosen ? 2 : 0)};
            fill(cr, tab.left, tab.top, tab.right - tab.left, tab.bottom - tab.top, FACE_GREY);
            hline(cr, tab.left + 2, tab.right, tab.top, WHITE);
            vline(cr, tab.left, tab.top + 2, tab.bottom - 2, WHITE);
            fill(cr, tab.left + 1, tab.top + 1, 1, 1, WHITE);
            hline(cr, tab.left + 2, tab.right, tab.bottom - 1, BLACK);
            hline(cr, tab.left + 2, tab.right, tab.bottom - 2, SHADOW);
            fill(cr, tab.left + 1, tab.bottom - 2, 1, 1, BLACK);
            if (images && item.image >= 0 && item.image < static_cast<int>(images->images.size())) {
                int ix = tab.left + (tab.right - tab.left - images->width) / 2;
                int iy = tab.top + (tab.bottom - tab.top - images->height) / 2;
                image(images->images[static_cast<std::size_t>(item.image)], ix, iy);
            } else if (!item.text.empty()) {
                text(item.text, tab.left + 3, tab.top + 3, BLACK, !enabled(w));
            }
            if (chosen && focused) focusRect(cr, RECT{tab.left + 3, tab.top + 3, tab.right - 3, tab.bottom - 3});
        }
    }

    void upDown(Window& w, const RECT& r) {
        auto* s = stateOf<UpDownState>(&w);
        bool on = enabled(w);
        int mid = (r.top + r.bottom) / 2;
        RECT up{r.left, r.top, r.right, mid}, down{r.left, mid, r.right, r.bottom};
        fill(cr, r.left, r.top, r.right - r.left, r.bottom - r.top, FACE_GREY);
        frame3d(cr, up, s->pressed != 1);
        frame3d(cr, down, s->pressed != -1);
        arrow(up, true, on);
        arrow(down, false, on);
    }

    void commandBar(Window& w, const RECT& r) {
        auto* s = stateOf<CommandBarState>(&w);
        fill(cr, r.left, r.top, r.right - r.left, r.bottom - r.top, FACE_GREY);
        hline(cr, r.left, r.right, r.bottom - 1, SHADOW);
        if (!s->closeBox) return;
        int box = r.bottom - r.top - 4;
        RECT close{r.right - box - 2, r.top + 2, r.right - 2, r.top + 2 + box};
        fill(cr, close.left, close.top, box, box, FACE_GREY);
        frame3d(cr, close, !s->closePressed);
        colour(cr, BLACK);
        cairo().set_line_width(cr, std::max(1.5, box / 10.0));
        double in = box * 0.3;
        cairo().move_to(cr, close.left + in, close.top + in);
        cairo().line_to(cr, close.right - in, close.bottom - in);
        cairo().move_to(cr, close.right - in, close.top + in);
        cairo().line_to(cr, close.left + in, close.bottom - in);
        cairo().stroke(cr);
    }
};

cairo_format_t formatOf(int bits) {
    switch (bits) {
    case 16: return CAIRO_FORMAT_RGB16_565;
    case 32: return CAIRO_FORMAT_RGB24;
    default: return CAIRO_FORMAT_INVALID;
    }
}

}  // namespace

TextMetrics measureFont(double pixels) {
    cairo_t* cr = measurer();
    useFont(cr, pixels);
    cairo_font_extents_t fe;
    cairo().font_extents(cr, &fe);
    cairo_text_extents_t te;
    cairo().text_extents(cr, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", &te);
    TextMetrics m;
    m.averageWidth = static_cast<int>((te.x_advance / 26 + 1) / 2);
    m.ascent = static_cast<int>(std::ceil(fe.ascent));
    m.height = static_cast<int>(std::ceil(fe.ascent) + std::ceil(fe.descent));
    return m;
}

double textWidth(const std::u16string& text, double pixels) {
    if (text.empty()) return 0;
    cairo_t* cr = measurer();
    useFont(cr, pixels);
    cairo_text_extents_t te;
    cairo().text_extents(cr, toUtf8(text).c_str(), &te);
    return te.x_advance;
}

void paintScreen(WindowSystem& system, const FrameBuffer& frame) {
    // Depths cairo cannot draw directly are painted in 32 bits and converted.
    cairo_format_t format = formatOf(frame.bitsPerPixel);
    cairo_surface_t* surface;
    std::vector<std::uint32_t> scratch;
    if (format != CAIRO_FORMAT_INVALID && cairo().format_stride_for_width(format, frame.width) <= frame.lineBytes) {
        surface = cairo().image_surface_create_for_data(frame.pixels, format, frame.width, frame.height, frame.lineBytes);
    } else {
        scratch.assign(static_cast<std::size_t>(frame.width) * frame.height, 0);
        surface = cairo().image_surface_create_for_data(reinterpret_cast<unsigned char*>(scratch.data()), CAIRO_FORMAT_RGB24,
                                                      frame.width, frame.height, frame.width * 4);
    }
    cairo_t* cr = cairo().create(surface);
    cairo().set_antialias(cr, CAIRO_ANTIALIAS_NONE);
    Painter p{system, cr, system.fontPixels(), measureFont(system.fontPixels())};
    useFont(cr, p.font);
    fill(cr, 0, 0, frame.width, frame.height, DESKTOP);
    std::vector<HWND> tops = system.topLevelWindows();
    for (auto it = tops.rbegin(); it != tops.rend(); ++it) p.window(*it);
    for (HWND top : tops) {
        // Open drop-down lists above everything.
        std::vector<HWND> stack{top};
        while (!stack.empty()) {
            HWND h = stack.back();
            stack.pop_back();
            Window* w = system.window(h);
            if (!w || !w->visibleStyle()) continue;
            if (w->className == COMBOBOX_CLASS && w->control) {
                auto* s = dynamic_cast<ComboState*>(w->control.get());
                if (s && s->dropped) p.dropList(*w);
            }
            stack.insert(stack.end(), w->children.begin(), w->children.end());
        }
    }
    cairo().destroy(cr);
    cairo().surface_flush(surface);
    cairo().surface_destroy(surface);
    if (frame.bitsPerPixel == 32 && scratch.empty()) {
        // cairo leaves the unused top byte set; the frame's words are 0x00RRGGBB.
        for (int y = 0; y < frame.height; ++y) {
            auto* line = reinterpret_cast<std::uint32_t*>(frame.pixels + static_cast<std::ptrdiff_t>(y) * frame.lineBytes);
            for (int x = 0; x < frame.width; ++x) line[x] &= 0x00FFFFFFu;
        }
    }
    if (!scratch.empty()) {
        // 24 bits: blue, green, red bytes; 8 bits: 3-3-2 colour (no palette is modelled);
        // 4 bits: grey levels, two pixels a byte, the first in the low nibble.
        for (int y = 0; y < frame.height; ++y) {
            std::uint8_t* line = frame.pixels + static_cast<std::ptrdiff_t>(y) * frame.lineBytes;
            for (int x = 0; x < frame.width; ++x) {
                std::uint32_t c = scratch[static_cast<std::size_t>(y) * frame.width + x];
                std::uint32_t r = (c >> 16) & 0xFF, g = (c >> 8) & 0xFF, b = c & 0xFF;
                if (frame.bitsPerPixel == 24) {
                    line[3 * x] = static_cast<std::uint8_t>(b);
                    line[3 * x + 1] = static_cast<std::uint8_t>(g);
                    line[3 * x + 2] = static_cast<std::uint8_t>(r);
                } else if (frame.bitsPerPixel == 8) {
                    line[x] = static_cast<std::uint8_t>((r & 0xE0) | ((g >> 3) & 0x1C) | (b >> 6));
                } else if (frame.bitsPerPixel == 4) {
                    std::uint8_t grey = static_cast<std::uint8_t>(((r * 30 + g * 59 + b * 11) / 100) >> 4);
                    std::uint8_t& byte = line[x / 2];
                    byte = (x & 1) ? static_cast<std::uint8_t>((byte & 0x0F) | (grey << 4)) : static_cast<std::uint8_t>((byte & 0xF0) | grey);
                }
            }
        }
    }
}

}  // namespace sim
