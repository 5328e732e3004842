// The entry point's start-up steps and the polling loop.
#pragma once

#include "platform/desktop.h"

constexpr int HOTKEY_ID_PEEK = 1;
constexpr UINT PEEK_HOTKEY_MODIFIERS = MOD_CONTROL;  // no MOD_NOREPEAT: a held key repeats
constexpr UINT PEEK_HOTKEY_KEY = 0x30;               // 0 on the main row, not the keypad
constexpr DWORD LOOP_INTERVAL_MS = 500;

void RegisterPeekHotKey();
[[noreturn]] void RunMessageLoop();
