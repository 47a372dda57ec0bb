// A dialog template (DLGTEMPLATE and its DLGITEMTEMPLATEs) read from resource bytes,
// as CreateDialogIndirectParamW takes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// A name-or-ordinal field of a template: an ordinal when `ordinal` is non-zero
// (the 0xFFFF form), a string otherwise (possibly empty).
struct NameOrOrdinal {
    std::uint16_t ordinal = 0;
    std::u16string name;
};

struct DialogItemTemplate {
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    std::uint16_t id = 0;
    NameOrOrdinal windowClass;  // ordinals 0x80..0x85: BUTTON, EDIT, STATIC, LISTBOX, SCROLLBAR, COMBOBOX
    NameOrOrdinal text;
    std::vector<std::uint8_t> creationData;
};

struct DialogTemplate {
    std::uint32_t style = 0;
    std::uint32_t exStyle = 0;
    std::int16_t x = 0, y = 0, cx = 0, cy = 0;
    NameOrOrdinal menu;
    NameOrOrdinal windowClass;
    std::u16string title;
    bool hasFont = false;  // DS_SETFONT
    std::uint16_t pointSize = 0;
    std::u16string typeface;
    std::vector<DialogItemTemplate> items;
};

// Reads a DLGTEMPLATE (not the EX form) and its items from `size` bytes; false, with
// `out` unspecified, when the bytes end early or are malformed. Never reads past
// `bytes + size`.
bool parseDialogTemplate(const void* bytes, std::size_t size, DialogTemplate& out);

// The class name an item ordinal stands for (u"BUTTON" for 0x80 ...), empty if none.
std::u16string predefinedClassName(std::uint16_t ordinal);

}  // namespace sim
