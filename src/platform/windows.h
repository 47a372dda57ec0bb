// The Windows CE window calls the system makes: windows, messages, dialogs, the
// common controls and the screen. On the device coredll and commctrl answer them; on
// the host the simulated handheld's window system does.
#pragma once

#include "platform/types.h"

namespace ce {

// Message boxes and the screen.
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
BOOL UpdateWindow(HWND window);
HDC GetDC(HWND window);
int ReleaseDC(HWND window, HDC dc);
int GetDeviceCaps(HDC dc, int index);
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
HGDIOBJ GetStockObject(int object);
BOOL DeleteObject(HGDIOBJ object);

// Classes and windows.
ATOM RegisterClassW(const WNDCLASSW* windowClass);
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR text, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menuOrId, HINSTANCE instance, LPVOID parameter);
BOOL DestroyWindow(HWND window);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL ShowWindow(HWND window, int command);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL IsWindow(HWND window);
BOOL IsWindowVisible(HWND window);
BOOL IsWindowEnabled(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsChild(HWND parent, HWND window);
HWND GetParent(HWND window);
LONG_PTR SetWindowLongW(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongW(HWND window, int index);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR text, int size);
int GetWindowTextLengthW(HWND window);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND window);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);

// Messages and timers.
BOOL GetMessageW(MSG* message, HWND window, UINT first, UINT last);
BOOL PeekMessageW(MSG* message, HWND window, UINT first, UINT last, UINT remove);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
void PostQuitMessage(int exitCode);
UINT SetTimer(HWND window, UINT id, UINT milliseconds, TIMERPROC procedure);
BOOL KillTimer(HWND window, UINT id);

// Focus and keyboard.
HWND SetFocus(HWND window);
HWND GetFocus();
HWND GetActiveWindow();
short GetKeyState(int virtualKey);

// Dialogs. The template is DLGTEMPLATE bytes as a resource compiler writes them.
HWND CreateDialogIndirectParamW(HINSTANCE instance, const void* dialogTemplate, HWND parent, DLGPROC procedure,
                                LPARAM parameter);
BOOL IsDialogMessageW(HWND dialog, MSG* message);
HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous);
HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous);
BOOL EndDialog(HWND dialog, int result);

// Common controls.
void InitCommonControls();
HWND CommandBar_Create(HINSTANCE instance, HWND parent, int id);
BOOL CommandBar_AddAdornments(HWND commandBar, DWORD flags, DWORD helpId);
int CommandBar_Height(HWND commandBar);
HIMAGELIST ImageList_Create(int width, int height, UINT flags, int initial, int grow);
int ImageList_Add(HIMAGELIST list, HBITMAP image, HBITMAP mask);
BOOL ImageList_Destroy(HIMAGELIST list);
HWND CreateUpDownControl(DWORD style, int x, int y, int width, int height, HWND parent, int id,
                         HINSTANCE instance, HWND buddy, int upper, int lower, int position);

}  // namespace ce
