// The ids of the program's resources, named once for the resource script and the code.
// Plain defines, since the resource compiler's preprocessor reads this file too.
#pragma once

#include "../../boot/directory_strings.h"

// String table.
#define IDS_APPLICATION_NAME 10000
#define IDS_CLASS_NAME 10002

// WMain.
#define IDC_ROOT_GROUP 100
#define IDC_ROOT_WD 101  // 101 + rootFileSystem, in the order of the choices
#define IDC_ROOT_SD 102
#define IDC_ROOT_MD 103
#define IDC_ROOT_NFS 104
#define IDC_ROOT_DK 105
#define IDC_ROOT_LD 106
#define IDC_IMAGE_NAME 107
#define IDC_ASK_NAME 150
#define IDC_SINGLE_USER 151
#define IDC_BOOT_VERBOSE 152
#define IDC_SERIAL_CONSOLE 153
#define IDC_SERIAL_SPEED 154
#define IDC_KERNEL_DEBUGGER 155
#define IDC_KERNEL_DIRECTORY 1001
#define IDC_PLATFORM 1002
#define IDC_KERNEL_NAME 1003

// WOption.
#define IDC_AUTO_BOOT 200
#define IDC_REVERSE_VIDEO 201
#define IDC_PAUSE_BEFORE_BOOT 202
#define IDC_LOAD_DEBUG_INFO 203
#define IDC_SAFETY_MESSAGE 205
#define IDC_EXTRA_OPTIONS 206
#define IDC_AUTO_BOOT_SECONDS 2000
#define IDC_AUTO_BOOT_SPIN 2001

// WConsole.
#define IDC_DEBUG_BIT0 300  // 300 + bit, most significant on the left
#define IDC_DEBUG_BIT1 301
#define IDC_DEBUG_BIT2 302
#define IDC_DEBUG_BIT3 303
#define IDC_DEBUG_BIT4 304
#define IDC_DEBUG_BIT5 305
#define IDC_DEBUG_BIT6 306
#define IDC_DEBUG_BIT7 307
#define IDC_DEBUG_HOOK_A 310  // 310 + hook
#define IDC_DEBUG_HOOK_B 311
#define IDC_DEBUG_HOOK_C 312
#define IDC_DEBUG_HOOK_D 313
#define IDC_LOG_VIEW 320
#define IDC_SAVE_LOG 321
#define IDC_LOG_NAME 322
