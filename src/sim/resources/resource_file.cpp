// Walks a .res file entry by entry; every size read from it is checked against
// what is left before it is used.
#include "sim/resources/resource_file.h"

#include "sim/resources/name_or_ordinal.h"

namespace sim {

namespace {

char16_t upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool readEntry(BoundedReader& in, ResourceEntry& entry) {
    std::size_t start = in.offset();
    std::uint32_t dataSize, headerSize;
    if (!in.u32(dataSize) || !in.u32(headerSize)) return false;
    if (!readNameOrOrdinal(in, entry.type) || !readNameOrOrdinal(in, entry.name)) return false;
    if (!in.align(4)) return false;
    std::uint32_t dataVersion, version, characteristics;
    std::uint16_t memoryFlags;
    if (!in.u32(dataVersion) || !in.u16(memoryFlags) || !in.u16(entry.language) || !in.u32(version) ||
        !in.u32(characteristics))
        return false;
    // The header size says where the data starts; it must cover the fields just read.
    std::size_t headerRead = in.offset() - start;
    if (headerSize < headerRead || !in.skip(headerSize - headerRead)) return false;
    if (in.remaining() < dataSize) return false;
    entry.data = in.here();
    entry.size = dataSize;
    in.skip(dataSize);
    // The next entry starts on a 4-byte boundary; the last one may end unpadded.
    if (!in.align(4)) in.skip(in.remaining());
    return true;
}

}  // namespace

bool ResourceFile::load(const void* bytes, std::size_t size) {
    entries_.clear();
    if (!bytes) return false;
    BoundedReader in(bytes, size);
    std::vector<ResourceEntry> entries;
    while (in.remaining() > 0) {
        ResourceEntry entry;
        if (!readEntry(in, entry)) return false;
        // The file opens with an empty entry (type 0, name 0) that marks the 32-bit format.
        if (entry.type.ordinal == 0 && entry.type.name.empty() && entry.size == 0) continue;
        entries.push_back(std::move(entry));
    }
    entries_ = std::move(entries);
    return true;
}

const ResourceEntry* ResourceFile::find(const NameOrOrdinal& type, const NameOrOrdinal& name) const {
    for (const ResourceEntry& entry : entries_) {
        if (sameResourceName(entry.type, type) && sameResourceName(entry.name, name)) return &entry;
    }
    return nullptr;
}

bool sameResourceName(const NameOrOrdinal& a, const NameOrOrdinal& b) {
    if (a.ordinal != 0 || b.ordinal != 0) return a.ordinal == b.ordinal;
    if (a.name.size() != b.name.size()) return false;
    for (std::size_t i = 0; i < a.name.size(); ++i) {
        if (upper(a.name[i]) != upper(b.name[i])) return false;
    }
    return true;
}

}  // namespace sim
