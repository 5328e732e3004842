// hushpane-check.exe: drives a real hushpane.exe through what its user does
// and reads back, from outside, what happened on this desktop.
#pragma once

#include "check/readout.h"

#include <atomic>
#include <string>

constexpr int MAX_COPIES = 4;
constexpr int RUN_INTERRUPTED = 3;  // an exit status: winnt.h has STATUS_ names of its own
constexpr WPARAM PAUSE_ITEM = 1;    // Hushpane's menu items, as its menu posts them
constexpr WPARAM EXIT_ITEM = 2;
constexpr COLORREF BACKDROP_COLOUR = RGB(0x00, 0xB4, 0x5A);
extern const char DESKTOP_STOPPED[];  // where the desktop kept a gesture that a verdict needs from being made

// A Hushpane this check started; its standard output comes through a pipe.
struct Copy {
    HANDLE process;
    DWORD pid;
    HANDLE output;
    std::string written;
};

extern std::wstring g_exe;                   // the hushpane.exe under test
extern TaskbarState g_before[MAX_TASKBARS];  // as they were before the first check
extern int g_taskbarCount;
extern Copy g_copies[MAX_COPIES];
extern int g_copyCount;
extern std::atomic<bool> g_interrupted;  // stopped by the user: no input is sent any more
extern bool g_puttingBack;               // the clean-up, which no interruption cuts short
extern int g_passed;
extern int g_failed;

// Polls until `done` or `timeout` ms pass; false on time-out or interruption.
template <typename Done>
bool WaitFor(Done done, DWORD timeout)
{
    const ULONGLONG start = GetTickCount64();
    while (!done()) {
        if ((g_interrupted && !g_puttingBack) || GetTickCount64() - start >= timeout) {
            return false;
        }
        Sleep(POLL_MS);
    }
    return true;
}

// main.cpp
std::wstring OwnPath();
std::string NoInputDesktop();  // why keys and clicks have nowhere to go; empty when they have

// report.cpp: the report's lines and what they are made of.
std::string Format(const char* format, ...);
std::string Utf8(const std::wstring& text);
double SecondsSince(ULONGLONG start);
void Report(int number, const char* name, bool passed, const std::string& detail);
void Note(const std::string& line);
std::string Quoted(const std::string& text);  // line ends shown as \r and \n
std::string WindowClass(HWND window);
std::string TitleOf(HWND window);
std::string ImageName(DWORD pid);  // empty where it cannot be read
std::string WindowText(HWND window);
std::string ProcessText(DWORD pid);
std::string PointText(POINT point);
std::string RectText(const RECT& rect);
std::string Describe(const TaskbarState& state);
bool AllTaskbars(int alpha);
bool KeepsAlpha(int alpha, DWORD duration);
std::string TaskbarsNow();

// input.cpp: the one sender of input, a gesture a SendInput call, none once the user stopped the check.
HWND TopLevelAt(POINT point);
void StopInput();
bool MovePointer(POINT point, std::string* detail);
// Only when the pointer got to `point` and `aimed` lies there; the pointer then goes back.
bool ClickOn(HWND aimed, const char* aimedName, POINT point, std::string* detail);
bool PressCtrl0(std::string* detail);                     // only to the check's own window
bool PressEscape(const Copy& copy, std::string* detail);  // that, or Hushpane's menu in the foreground

// copies.cpp: Hushpane, started, used as the shell and a user use it, and ended.
bool Launch(std::wstring commandLine, DWORD flags, HANDLE input, HANDLE output, PROCESS_INFORMATION* started);
Copy* StartHushpane(std::string* problem);
bool Running(const Copy& copy);
std::string EndedHow(const Copy& copy);
std::string ReadOutput(Copy& copy);
// The shell's callback for a click on the icon; true when the check held the foreground right before it.
bool ClickIcon(const Copy& copy, LPARAM mouseMessage, std::string* detail);
HWND AwaitHushpaneWindow(const Copy& copy);
bool IconPresent(HWND window, std::string* how);
bool HushpaneHoldsForeground(const Copy& copy, bool* inMenu = nullptr);  // and, in its menu
std::string Foreground(const Copy& copy, bool* inMenu = nullptr);  // who holds it, and whether Hushpane's thread does
void EndCopies();                                                  // each as its own Exit ends it, with messages only
// Hushpane's menu: the open one, or a new one by a right click.
HWND OpenMenu(const Copy& copy, std::string* detail, bool* checkHeld = nullptr);
bool AwaitNoMenu(const Copy& copy);
bool ChooseFromMenu(const Copy& copy, WPARAM item, std::string* detail, ULONGLONG* chosen);

// window.cpp: the check's own windows, which go with its process.
extern HWND g_checkWindow;
extern HWND g_backdrops[MAX_TASKBARS];  // in the known colour, one per taskbar
void OpenOwnWindows();
void CloseOwnWindows();
bool ClickCheckWindow(const RECT& avoid, std::string* detail);  // at a free place, away from `avoid`
bool TakeForeground(std::string* detail);                       // by that click; true when the check holds it

// sight.cpp: what the eye sees.
void LookAtTaskbars(bool shown);
void NoteWhatTheEyeSees();
std::string SeenVisibleWhileHidden();  // for the closing line
bool SaveScreenshot(const wchar_t* path, std::string* problem);

// putback.cpp: whatever stops the check, the desktop as the check found it.
void RecordTaskbars();
int PutTaskbarsBack();  // as before the run, but never hidden; how many changed
void PutBack();         // copies ended, taskbars put back, own windows closed
void GuardAgainstInterruption();
void Guarded(const Copy& copy);
void Finished();  // the report is whole
int Guard();      // hushpane-check.exe --guard

// notes.cpp: what the desktop is.
std::string IntegrityRefusal();  // empty when the check may run at its level
void NoteIntegrity(DWORD hushpane);
bool UnderWine();
void NoteSystem();
void NoteWhileHidden();

void RunChecks(const wchar_t* screenshot);  // checks.cpp
