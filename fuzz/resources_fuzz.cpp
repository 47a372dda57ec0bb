// The readers of resource bytes: the input as a whole .res file (and every entry in
// it by the reader of its type), and as a bare dialog template, bitmap, icon image
// and icon group.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/resources/dialog_template.h"
#include "sim/resources/dib_image.h"
#include "sim/resources/resource_file.h"
#include "sim/resources/string_table.h"

namespace {

// Each reader gets a copy of exactly the bytes it is given, so that reading one past
// them is caught.
void readAs(std::uint16_t type, const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    sim::DialogTemplate dialog;
    sim::DibImage image;
    switch (type) {
    case sim::RESOURCE_DIALOG: sim::parseDialogTemplate(bytes.data(), bytes.size(), dialog); break;
    case sim::RESOURCE_BITMAP: sim::decodeDib(bytes.data(), bytes.size(), image); break;
    case sim::RESOURCE_ICON: sim::decodeIconImage(bytes.data(), bytes.size(), image); break;
    case sim::RESOURCE_GROUP_ICON: sim::chooseGroupIcon(bytes.data(), bytes.size(), 32); break;
    default: break;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::ResourceFile file;
    if (file.load(data, size)) {
        sim::StringTable strings;
        strings.load(file);
        for (const sim::ResourceEntry& entry : file.entries()) readAs(entry.type.ordinal, entry.data, entry.size);
    }
    for (std::uint16_t type : {sim::RESOURCE_DIALOG, sim::RESOURCE_BITMAP, sim::RESOURCE_ICON, sim::RESOURCE_GROUP_ICON}) {
        readAs(type, data, size);
    }
    return 0;
}
