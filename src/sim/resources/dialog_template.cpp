// The DLGTEMPLATE reader: the header, its optional font, then one DWORD-aligned
// DLGITEMTEMPLATE per item, every field checked against the bytes that are left.
#include "sim/resources/dialog_template.h"

#include "sim/resources/name_or_ordinal.h"

namespace sim {

namespace {

constexpr std::uint32_t DS_SETFONT = 0x40;
// The smallest item: 18 bytes of fields, an empty class, an empty text and the data size.
constexpr std::size_t minimumItemBytes = 24;

bool readItem(BoundedReader& in, DialogItemTemplate& item) {
    if (!in.align(4)) return false;
    if (!in.u32(item.style) || !in.u32(item.exStyle)) return false;
    if (!in.i16(item.x) || !in.i16(item.y) || !in.i16(item.cx) || !in.i16(item.cy)) return false;
    if (!in.u16(item.id)) return false;
    if (!readNameOrOrdinal(in, item.windowClass) || !readNameOrOrdinal(in, item.text)) return false;
    // The size word counts the creation bytes that follow it.
    std::uint16_t dataSize;
    if (!in.u16(dataSize) || in.remaining() < dataSize) return false;
    item.creationData.assign(in.here(), in.here() + dataSize);
    return in.skip(dataSize);
}

}  // namespace

bool parseDialogTemplate(const void* bytes, std::size_t size, DialogTemplate& out) {
    if (!bytes) return false;
    BoundedReader in(bytes, size);
    out = DialogTemplate{};
    std::uint16_t itemCount;
    if (!in.u32(out.style) || !in.u32(out.exStyle)) return false;
    // The extended form starts with the words 1, 0xFFFF where the style would be.
    if ((out.style & 0xFFFF) == 1 && (out.style >> 16) == 0xFFFF) return false;
    if (!in.u16(itemCount)) return false;
    if (!in.i16(out.x) || !in.i16(out.y) || !in.i16(out.cx) || !in.i16(out.cy)) return false;
    if (!readNameOrOrdinal(in, out.menu) || !readNameOrOrdinal(in, out.windowClass)) return false;
    if (!in.string(out.title)) return false;
    out.hasFont = (out.style & DS_SETFONT) != 0;
    if (out.hasFont && (!in.u16(out.pointSize) || !in.string(out.typeface))) return false;

    // A count the bytes cannot hold is refused before anything is reserved for it.
    if (itemCount > in.remaining() / minimumItemBytes) return false;
    out.items.reserve(itemCount);
    for (std::uint16_t i = 0; i < itemCount; ++i) {
        DialogItemTemplate item;
        if (!readItem(in, item)) return false;
        out.items.push_back(std::move(item));
    }
    return true;
}

std::u16string predefinedClassName(std::uint16_t ordinal) {
    switch (ordinal) {
    case 0x80: return u"BUTTON";
    case 0x81: return u"EDIT";
    case 0x82: return u"STATIC";
    case 0x83: return u"LISTBOX";
    case 0x84: return u"SCROLLBAR";
    case 0x85: return u"COMBOBOX";
    default: return {};
    }
}

}  // namespace sim
