// hushpane-check.exe: drives a real hushpane.exe through what its user does
// and reads back, from outside, what happened on this desktop.
#pragma once

#include "check/readout.h"

#include <atomic>
#include <string>

constexpr int MAX_COPIES = 4;
constexpr int RUN_INTERRUPTED = 3;  // an exit status: winnt.h has STATUS_ names of its own

// A Hushpane this check started; its standard output comes through a pipe.
struct Copy {
    HANDLE process;
    DWORD pid;
    HANDLE output;
    std::string written;
};

extern std::wstring g_exe;  // the hushpane.exe under test
extern HWND g_taskbars[MAX_TASKBARS];
extern TaskbarState g_before[MAX_TASKBARS];  // as they were before the first check
extern int g_taskbarCount;
extern Copy g_copies[MAX_COPIES];
extern int g_copyCount;
extern std::atomic<bool> g_interrupted;  // Ctrl+C, or the console closed, seen on another thread
extern bool g_puttingBack;               // the last clean-up, which no interruption cuts short
extern int g_passed;
extern int g_failed;
extern bool g_checkHeldForeground;  // right before it last sent the shell's callback for a click

// Polls until `done` or `timeout` ms pass; false on time-out or interruption.
template <typename Done>
bool WaitFor(Done done, DWORD timeout)
{
    const ULONGLONG start = GetTickCount64();
    for (;;) {
        if (done()) {
            return true;
        }
        if ((g_interrupted && !g_puttingBack) || GetTickCount64() - start >= timeout) {
            return false;
        }
        Sleep(POLL_MS);
    }
}

// report.cpp
std::string Format(const char* format, ...);
std::string Utf8(const std::wstring& text);
double SecondsSince(ULONGLONG start);
void Report(int number, const char* name, bool passed, const std::string& detail);
void Note(const std::string& line);
std::string Quoted(const std::string& text);  // in quotes, line ends shown as \r and \n
std::string WindowClass(HWND window);
std::string ProcessText(DWORD pid);   // its number, and its image's name where it can be read
std::string WindowText(HWND window);  // its class and process
std::string PointText(POINT point);
std::string RectText(const RECT& rect);
std::string Describe(const TaskbarState& state);
bool AllTaskbars(int alpha);
bool KeepsAlpha(int alpha, DWORD duration);
std::string TaskbarsNow();

// hushpane.cpp: starting, using and ending the copies.
Copy* StartHushpane(std::string* problem);
bool Running(const Copy& copy);
std::string EndedHow(const Copy& copy);
std::string ReadOutput(Copy& copy);
// The shell's callback for a click on the icon, sent as the shell sends it:
// holding the foreground and letting Hushpane take it. Says whether the
// check held the foreground right before it.
std::string ClickIcon(const Copy& copy, LPARAM mouseMessage);
HWND AwaitHushpaneWindow(const Copy& copy);  // its message-only window, once it has made it
bool IconPresent(HWND window, std::string* how);
void EndCopies();

// press.cpp: presses made only on the window they aim at.
enum PressOutcome { PRESS_MADE, PRESS_REFUSED, PRESS_BLOCKED };
extern const char DESKTOP_STOPPED[];  // said where a press the verdict needs was refused
HWND TopLevelAt(POINT point);
// Moves the pointer to `point` and presses the left button there only if the
// pointer got there and the top-level window under it is `aimed`; then puts
// the pointer back. `detail` gets what kept it from pressing.
PressOutcome PressOn(HWND aimed, const char* aimedName, POINT point, ULONGLONG* pressed, std::string* detail);
std::string BlockedInput();  // why SendInput took fewer events, as far as can be told

// integrity.cpp: the integrity levels of the check, Hushpane and the shell.
constexpr DWORD INTEGRITY_UNKNOWN = 0xFFFFFFFF;
DWORD IntegrityOf(DWORD pid);
std::string IntegrityRefusal();  // why the check must not run at its level; empty when it may
void NoteIntegrity(DWORD hushpane);
std::string InputDropped();  // before an injection: why Windows will drop it; empty when it will not

// menu.cpp: Hushpane's menu, its items chosen with the mouse. Each step adds
// to `detail` what it did, where it clicked and who held the foreground.
constexpr int PAUSE_ITEM = 0;
constexpr int EXIT_ITEM = 1;
// The open menu, or a new one by a right click; null if none within 3 s.
HWND OpenMenu(const Copy& copy, std::string* detail);
bool AwaitNoMenu(const Copy& copy);
PressOutcome ClickMenuItem(HWND menu, int item, std::string* detail, ULONGLONG* clicked);
// The item chosen from the open menu or a new one; `chosen` is when.
bool ChooseFromMenu(const Copy& copy, int item, std::string* detail, ULONGLONG* chosen);
void NoteMenuForeground();

// ownwindows.cpp: the check's own windows, which go with its process.
constexpr COLORREF BACKDROP_COLOUR = RGB(0x00, 0xB4, 0x5A);
HWND CheckWindow();          // the one it clicks to hold the foreground
SIZE CheckWindowSize();      // its size on the screen
HWND Backdrop(int taskbar);  // one in the known colour per taskbar
void CloseOwnWindows();

// foreground.cpp: the foreground as the shell has it, and who holds it.
// A click on the check's own window, shown first at a free place of the
// primary work area away from the pointer and from `avoid`.
PressOutcome ClickCheckWindow(const RECT& avoid, std::string* detail);
// By that click, when it can be made, as a click on the icon makes the shell
// the foreground; says in `click` what was done, and returns the foreground
// window then.
HWND TakeForeground(std::string* click);
std::string HeldText(HWND holder, const std::string& click);  // whether the check held the foreground
bool HushpaneHoldsForeground(const Copy& copy);
bool KeysReachOnlyUs(const Copy& copy);  // Hushpane's thread or the check's window holds the foreground
std::string Foreground(const Copy& copy);

// sight.cpp: what the eye sees of the taskbars.
void LookAtTaskbars(bool shown);  // captured now, if every taskbar is hidden (or shown)
void NoteWhatTheEyeSees();

// safety.cpp: whatever happens, no taskbar is left invisible.
void RecordTaskbars();
void GuardAgainstInterruption();
void Guarded(DWORD pid);  // a copy that the guard ends if this process cannot
int RestoreTaskbars();    // shows every taskbar left hidden; how many
int PutTaskbarsBack();    // each as it was before the run, but never hidden; how many changed
void PutBack();
int Guard();  // hushpane-check.exe --guard

// checks.cpp
void RunChecks(const wchar_t* screenshot);

// notes.cpp
bool UnderWine();
void NoteSystem();
void NoteWhileHidden();

// screenshot.cpp
bool SaveScreenshot(const wchar_t* path, std::string* problem);
