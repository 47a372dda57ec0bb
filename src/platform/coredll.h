// The Windows CE calls the system makes. Every call to the OS goes through these
// declarations; on the device they are coredll's exports, on the host the
// simulated handheld answers them (platform/host/).
#pragma once

#include <cstdarg>

#include "platform/resources.h"
#include "platform/types.h"
#include "platform/windows.h"

namespace ce {

// Files and devices ("COM1:" is the serial driver).
HANDLE CreateFileW(LPCWSTR name, DWORD access, DWORD shareMode, void* security, DWORD creation,
                   DWORD attributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, void* overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written, void* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL CloseHandle(HANDLE object);
BOOL DeleteFileW(LPCWSTR name);
BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName);  // fails when newName exists
// With MOVEFILE_REPLACE_EXISTING an existing newName is replaced in one step: a
// reader finds the old file or the new one, never none.
BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags);
inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
// Writes what the file system still holds of the file to the medium.
BOOL FlushFileBuffers(HANDLE file);
DWORD GetCurrentProcessId();
HANDLE FindFirstFileW(LPCWSTR pattern, WIN32_FIND_DATAW* data);
BOOL FindNextFileW(HANDLE find, WIN32_FIND_DATAW* data);
BOOL FindClose(HANDLE find);
DWORD GetLastError();
void SetLastError(DWORD error);

// Serial driver.
BOOL GetCommState(HANDLE comm, DCB* dcb);
BOOL SetCommState(HANDLE comm, DCB* dcb);

// Text.
int wsprintfW(LPWSTR out, LPCWSTR format, ...);
int wvsprintfW(LPWSTR out, LPCWSTR format, va_list args);
// Bounded form: at most size units including the terminator; output is cut to fit.
int wvnsprintfW(LPWSTR out, int size, LPCWSTR format, va_list args);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideCount, LPSTR out, int outSize,
                        LPCSTR defaultChar, BOOL* usedDefault);
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int count, LPWSTR out, int outSize);
std::size_t wcslen(LPCWSTR text);
int wcscmp(LPCWSTR a, LPCWSTR b);
LPWSTR wcsstr(LPCWSTR text, LPCWSTR pattern);
LPWSTR wcschr(LPCWSTR text, WCHAR c);
LPWSTR wcsncpy(LPWSTR out, LPCWSTR text, std::size_t count);

// Resources of the running module. With size 0, *out receives a pointer to the
// read-only resource text itself and the result is its length.
HINSTANCE GetModuleHandleW(LPCWSTR name);
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR out, int size);
// Names and types are strings or MAKEINTRESOURCEW numbers ("#12" is 12). A missing or
// malformed resource gives a null result, with the reason in GetLastError.
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
HBITMAP LoadBitmapW(HINSTANCE instance, LPCWSTR name);
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);

// Debug output.
void OutputDebugStringW(LPCWSTR text);

// System information.
BOOL GetVersionExW(OSVERSIONINFOW* info);
void GetSystemInfo(SYSTEM_INFO* info);
void GlobalMemoryStatus(MEMORYSTATUS* status);
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* info);
DWORD Random();

// Modules: coredll.dll exports LockPages, UnlockPages and GetVersionEx by name.
HMODULE LoadLibraryW(LPCWSTR name);
FARPROC GetProcAddressW(HMODULE module, LPCWSTR name);
BOOL FreeLibrary(HMODULE module);
using LockPagesRoutine = BOOL (*)(LPVOID address, DWORD size, PDWORD pfns, int options);
using UnlockPagesRoutine = BOOL (*)(LPVOID address, DWORD size);
using GetVersionExRoutine = BOOL (*)(OSVERSIONINFOW* info);

// Virtual memory. Addresses handed out are 32-bit, as on the device.
LPVOID VirtualAlloc(LPVOID address, DWORD size, DWORD type, DWORD protect);
BOOL VirtualFree(LPVOID address, DWORD size, DWORD type);
BOOL VirtualCopy(LPVOID dest, LPVOID source, DWORD size, DWORD protect);
BOOL SetKMode(BOOL kernelMode);

// Byte order (WinSock).
ULONG htonl(ULONG value);
ULONG ntohl(ULONG value);
WORD htons(WORD value);
WORD ntohs(WORD value);

}  // namespace ce
