// The resource calls over the module's embedded .res file.
#include "platform/host/resources.h"

#include <memory>

#include "platform/coredll.h"
#include "sim/resources/string_table.h"

namespace ce {

namespace {

// The one module is a fixed, non-null token.
HINSTANCE const thisModule = reinterpret_cast<HINSTANCE>(static_cast<std::uintptr_t>(0x10000));
// Icons are drawn at this size (the system's icon size).
constexpr int iconSize = 32;

const sim::StringTable& moduleStrings() {
    static const sim::StringTable table = [] {
        sim::StringTable strings;
        strings.load(host::moduleResourceFile());
        return strings;
    }();
    return table;
}

bool isThisModule(HMODULE module) { return module == nullptr || module == thisModule; }

// A resource name as the calls take it: a number in the pointer, "#12", or a string.
sim::NameOrOrdinal resourceName(LPCWSTR name) {
    if (IS_INTRESOURCE(name)) return {static_cast<std::uint16_t>(reinterpret_cast<std::uintptr_t>(name)), {}};
    std::u16string text(name);
    if (text.size() > 1 && text.size() <= 6 && text[0] == u'#') {
        std::uint32_t number = 0;
        bool digits = true;
        for (std::size_t i = 1; i < text.size(); ++i) {
            if (text[i] < u'0' || text[i] > u'9') digits = false;
            else number = number * 10 + (text[i] - u'0');
        }
        if (digits && number > 0 && number <= 0xFFFF) return {static_cast<std::uint16_t>(number), {}};
    }
    return {0, std::move(text)};
}

const sim::ResourceEntry* findEntry(HMODULE module, LPCWSTR name, LPCWSTR type) {
    if (!isThisModule(module)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    if (!name || !type) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const sim::ResourceFile& file = host::moduleResourceFile();
    sim::NameOrOrdinal typeName = resourceName(type);
    if (const sim::ResourceEntry* entry = file.find(typeName, resourceName(name))) return entry;
    bool typeKnown = false;
    for (const sim::ResourceEntry& entry : file.entries()) typeKnown |= sim::sameResourceName(entry.type, typeName);
    SetLastError(typeKnown ? ERROR_RESOURCE_NAME_NOT_FOUND : ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
}

void* addImage(sim::DibImage image) {
    auto object = std::make_unique<host::ImageObject>();
    object->image = std::move(image);
    return sim::Handheld::current().addHandle(std::move(object));
}

}  // namespace

namespace host {

const sim::ResourceFile& moduleResourceFile() {
    static const sim::ResourceFile file = [] {
        sim::ResourceFile read;
        read.load(moduleResources, moduleResourcesSize);
        return read;
    }();
    return file;
}

std::size_t resourceBytesFrom(const void* data) {
    auto p = static_cast<const std::uint8_t*>(data);
    for (const sim::ResourceEntry& entry : moduleResourceFile().entries()) {
        // Compared as addresses, not by pointer arithmetic on an unrelated pointer.
        auto first = reinterpret_cast<std::uintptr_t>(entry.data);
        auto at = reinterpret_cast<std::uintptr_t>(p);
        if (at >= first && at - first < entry.size) return entry.size - (at - first);
    }
    return 0;
}

const sim::DibImage* imageOf(void* handle) {
    auto* object = dynamic_cast<ImageObject*>(sim::Handheld::current().handle(handle));
    return object ? &object->image : nullptr;
}

}  // namespace host

HINSTANCE GetModuleHandleW(LPCWSTR) { return thisModule; }

// The device's resource compiler is told to end every string with a NUL, so the
// size-0 form hands back a terminated text; the host keeps terminated copies.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR out, int size) {
    const std::u16string* text = isThisModule(instance) ? moduleStrings().find(id) : nullptr;
    if (!text) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        if (out && size > 0) out[0] = 0;
        return 0;
    }
    int length = static_cast<int>(text->size());
    if (size == 0) {
        if (out) *reinterpret_cast<LPCWSTR*>(out) = text->c_str();
        return length;
    }
    if (!out || size < 0) return 0;
    int count = length < size - 1 ? length : size - 1;
    for (int i = 0; i < count; ++i) out[i] = (*text)[static_cast<std::size_t>(i)];
    out[count] = 0;
    return count;
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    return reinterpret_cast<HRSRC>(const_cast<sim::ResourceEntry*>(findEntry(module, name, type)));
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    if (!isThisModule(module) || !resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return const_cast<std::uint8_t*>(reinterpret_cast<const sim::ResourceEntry*>(resource)->data);
}

LPVOID LockResource(HGLOBAL data) { return data; }

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    if (!isThisModule(module) || !resource) {
        SetLastError(ERROR_INVALID_HANDLE);
        return 0;
    }
    return reinterpret_cast<const sim::ResourceEntry*>(resource)->size;
}

HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name) {
    const sim::ResourceEntry* entry = findEntry(instance, name, RT_BITMAP);
    sim::DibImage image;
    if (!entry) return nullptr;
    if (!sim::decodeDib(entry->data, entry->size, image)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HBITMAP>(addImage(std::move(image)));
}

HICON LoadIconW(HINSTANCE instance, LPCWSTR name) {
    const sim::ResourceEntry* group = findEntry(instance, name, RT_GROUP_ICON);
    if (!group) return nullptr;
    int id = sim::chooseGroupIcon(group->data, group->size, iconSize);
    const sim::ResourceEntry* icon =
        id < 0 ? nullptr : host::moduleResourceFile().find(sim::RESOURCE_ICON, static_cast<std::uint16_t>(id));
    sim::DibImage image;
    if (!icon || !sim::decodeIconImage(icon->data, icon->size, image)) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    return static_cast<HICON>(addImage(std::move(image)));
}

}  // namespace ce
