// The thumb is as long as the shown share of the track (never shorter than half an
// arrow), and stands where the position stands between the first and the last.
#include "sim/windows/scroll_bar.h"

#include <algorithm>

namespace sim {

using namespace ce;

ScrollBar::ScrollBar(const RECT& area, int arrow, const ScrollRange& range) : bar(area) {
    int height = area.bottom - area.top;
    arrow = std::max(0, std::min(arrow, height / 2));
    up = {area.left, area.top, area.right, area.top + arrow};
    down = {area.left, area.bottom - arrow, area.right, area.bottom};
    int track = trackLength();
    hasThumb = range.last() > 0 && track > 2;
    if (!hasThumb) return;
    int length = static_cast<int>(static_cast<long long>(track) * range.page / range.total);
    length = std::min(track, std::max(length, std::max(3, arrow / 2)));
    int top = trackTop() + static_cast<int>(static_cast<long long>(track - length) * range.clamp(range.position) / range.last());
    thumb = {area.left, top, area.right, top + length};
}

ScrollPart ScrollBar::partAt(int x, int y) const {
    if (x < bar.left || x >= bar.right || y < bar.top || y >= bar.bottom) return ScrollPart::None;
    if (y < up.bottom) return ScrollPart::LineUp;
    if (y >= down.top) return ScrollPart::LineDown;
    if (!hasThumb) return ScrollPart::None;
    if (y < thumb.top) return ScrollPart::PageUp;
    if (y >= thumb.bottom) return ScrollPart::PageDown;
    return ScrollPart::Thumb;
}

int ScrollBar::positionForThumbTop(int top, const ScrollRange& range) const {
    int room = trackLength() - (thumb.bottom - thumb.top);
    if (!hasThumb || room <= 0) return range.clamp(range.position);
    int offset = std::clamp(top - trackTop(), 0, room);
    // Rounded to the nearest line, so the thumb lands where it was let go.
    return range.clamp(static_cast<int>((static_cast<long long>(offset) * range.last() + room / 2) / room));
}

int scrolled(const ScrollRange& range, WORD request) {
    int page = std::max(1, range.page);
    switch (request) {
    case SB_LINEUP: return range.clamp(range.position - 1);
    case SB_LINEDOWN: return range.clamp(range.position + 1);
    case SB_PAGEUP: return range.clamp(range.position - page);
    case SB_PAGEDOWN: return range.clamp(range.position + page);
    case SB_TOP: return 0;
    case SB_BOTTOM: return range.last();
    default: return range.clamp(range.position);
    }
}

}  // namespace sim
