// A window's own vertical scroll bar (an open drop-down list's, a multi-line
// edit's): where its arrows, track and thumb lie, and what a tap or a drag on them
// asks for. The owner keeps the position; this only measures.
#pragma once

#include "platform/types.h"

namespace sim {

// `total` lines (items), `page` of them shown, the first shown at `position`.
struct ScrollRange {
    int total = 0;
    int page = 1;
    int position = 0;

    int last() const { return total > page ? total - page : 0; }  // the largest position
    int clamp(int p) const { return p < 0 ? 0 : p > last() ? last() : p; }
};

enum class ScrollPart { None, LineUp, LineDown, PageUp, PageDown, Thumb };

struct ScrollBar {
    ce::RECT bar{}, up{}, down{}, thumb{};
    bool hasThumb = false;  // only when there is something to scroll

    // The bar filling `area`, arrows `arrow` pixels tall.
    ScrollBar(const ce::RECT& area, int arrow, const ScrollRange& range);
    ScrollPart partAt(int x, int y) const;
    // The position that puts the thumb's top at `top` (a drag).
    int positionForThumbTop(int top, const ScrollRange& range) const;

private:
    int trackTop() const { return up.bottom; }
    int trackLength() const { return down.top - up.bottom; }
};

// What a scroll request does to a position: one line, one page, the ends.
int scrolled(const ScrollRange& range, ce::WORD request);

}  // namespace sim
