// What every file manager shares: the wide to 8-bit conversion of names.
#include "file/file_manager.h"

#include "console/console.h"
#include "platform/coredll.h"

namespace quorvel {

ce::BOOL FileManager::convertToAscii(char* destination, const ce::WCHAR* source, std::size_t capacity) {
    Console* console = consoleSlot ? consoleSlot : theConsole();
    int length = source ? static_cast<int>(ce::wcslen(source)) : 0;
    int needed = length ? ce::WideCharToMultiByte(ce::CP_ACP, 0, source, length, nullptr, 0, nullptr, nullptr) : 0;
    if (needed < 0) needed = 0;
    if (static_cast<std::size_t>(needed) + 1 > capacity) {
        console->print(u"buffer insufficeint. %d > %d\n", needed + 1, static_cast<int>(capacity));
        return 0;
    }
    // With nothing counted there is nothing to convert; asking anyway would only count.
    int converted = needed ? ce::WideCharToMultiByte(ce::CP_ACP, 0, source, length, destination, needed, nullptr, nullptr) : 0;
    if (converted <= 0) {
        console->print(u"can't convert to ASCII.\n");
        return 0;
    }
    destination[converted] = '\0';
    return 1;
}

}  // namespace quorvel
