// The one header through which the program reaches the operating system.
// On Windows it is <windows.h>; elsewhere the simulated desktop declares the
// same names, types and constants, so the program reads as plain Win32 in
// both builds.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <shellapi.h>
#define STRSAFE_NO_DEPRECATE
#include <strsafe.h>
#ifdef _WIN64
// Records are handed over with cbSize set to their own size: the shell
// expects the full current form of the tray record, 976 bytes on x64, and
// the window class record is 80.
static_assert(sizeof(NOTIFYICONDATAW) == 976, "NOTIFYICONDATAW is not the 976-byte form");
static_assert(sizeof(WNDCLASSEXW) == 80, "WNDCLASSEXW is not the 80-byte record");
#endif
#else
#include "simulated/win32.h"
#endif
