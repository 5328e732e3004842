// hushpane-check.exe: drives a real hushpane.exe as its user does and reads back, from
// outside, what happened. Its files, bottom up: each calls only those before it here.
#pragma once

#include "check/readout.h"

#include <functional>
#include <string>
#include <vector>

// words.cpp: how the check says what it saw.
using Facts = std::vector<std::string>;  // what a check saw, a phrase each, in the order seen
// The phrases of a line, "; " between them (or another mark); empty ones go.
std::string Join(const Facts& facts, const char* between = "; ");
#ifdef __GNUC__
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
#else
std::string Format(const char* format, ...);
#endif
std::string Utf8(const std::wstring& text);
std::string Quoted(const std::string& text);  // line ends shown as \r and \n
std::string WindowClass(HWND window);
std::string TitleOf(HWND window);
std::string ImageName(DWORD pid);  // empty where it cannot be read
std::string ProcessText(DWORD pid);
std::string WindowText(HWND window);
std::string PointText(POINT point);
std::string RectText(const RECT& rect);
std::string Describe(const TaskbarState& state);
void Note(const std::string& line);

// run.cpp: the clock, the user's stop, and the taskbars as the check found them.
using Millis = long long;                 // signed: a time left may fall below zero
constexpr Millis HUSHPANE_LOOP_MS = 500;  // Hushpane's loop takes a message, then sleeps this long
constexpr Millis HUSHPANE_PEEK_MS = 20000;   // Ctrl+0 shows the taskbars this long, serving nothing
extern TaskbarState g_before[MAX_TASKBARS];  // every taskbar before the first check
extern int g_taskbarCount;
Millis Now();
double SecondsSince(Millis start);
std::string Within(Millis timeout);  // "within 1.5 s"
// The user's stop (Ctrl+C in the console or the check's window, the console closing).
void Stop(const char* how);
const char* Stopped();  // how, once stopped; else null
// Runs `act` unless the user stopped the check, under the lock a stop takes: nothing that
// makes Hushpane or the desktop act starts once a stop returns. True if it ran.
bool UnlessStopped(const std::function<void()>& act);
// Until `done`, for at most `timeout`; false on time-out, or at a stop unless `throughStop`.
bool WaitFor(const std::function<bool()>& done, Millis timeout, bool throughStop = false);
void RecordTaskbars();
bool AllTaskbars(int alpha);  // every recorded taskbar has that alpha
std::string TaskbarsNow();

// notes.cpp: what the desktop is, in NOTE lines that never fail a check.
bool UnderWine();
std::string IntegrityRefusal();  // empty when the check may run at its level
void NoteSystem();
void NoteWhileHidden();

// input.cpp: the one sender of input. A gesture: sent, or why not, and what was in its way.
struct Gesture {
    bool sent;
    std::string why;
    HWND inTheWay;
};
std::string NoInputDesktop();  // why keys and clicks have nowhere to go; empty when they have
bool PointerAt(POINT point);   // to the pixel that absolute positions round to
// Only once the pointer is at `point` and `aimed` lies there; the pointer then goes to `rest`.
Gesture ClickOn(HWND aimed, const char* aimedName, POINT point, POINT rest);
Gesture PressCtrl0(HWND ownWindow);  // only while `ownWindow` is the foreground window
// Then too, or while `menuThread` is the foreground thread with its menu open.
Gesture PressEscape(HWND ownWindow, DWORD menuThread);

// guard.cpp: the channel to the check's guard.
enum NewsKind : DWORD { TASKBAR_NEWS, COPY_NEWS, DONE_NEWS };
// What the check tells its guard, in records of one size, each written and read whole.
struct GuardNews {
    NewsKind kind;
    TaskbarState taskbar;  // as it was before the run
    HANDLE copy;           // the guard's own handle: unlike a process id, never another's
};
std::wstring OwnPath();
// No console and a process group of its own: Ctrl+C and the console are the check's.
bool Launch(std::wstring commandLine, DWORD flags, HANDLE input, HANDLE output,
            PROCESS_INFORMATION* started);
std::string StartGuard();              // and tells it the taskbars; empty, or why it could not
std::string HandOver(HANDLE process);  // a copy not yet run; empty, or why not
void TellGuardDone();                  // the desktop put back and the report whole
bool HearNews(GuardNews* news);        // in the guard: the next record, until the check is gone

// window.cpp: the check's own windows.
constexpr COLORREF BACKDROP_COLOUR = RGB(0x00, 0xB4, 0x5A);
extern HWND g_checkWindow;
extern HWND g_backdrops[MAX_TASKBARS];  // in the known colour, one per taskbar
void OpenOwnWindows();
void CloseOwnWindows();
// A click on the check's window at a free place of the primary work area, away from `avoid`.
Gesture ClickCheckWindow(const RECT& avoid, Facts* facts);
bool TakeForeground(Facts* facts);  // by that click; true when the check then holds it

// copies.cpp: Hushpane, started, used as the shell and a user use it, and ended.
constexpr int MAX_COPIES = 4;
constexpr WPARAM PAUSE_ITEM = 1;  // Hushpane's menu items, as its menu posts them
constexpr WPARAM EXIT_ITEM = 2;
// Its loop takes a posted command within a loop or two, or after a peek.
constexpr Millis EXIT_PATIENCE_MS = HUSHPANE_PEEK_MS + 4 * HUSHPANE_LOOP_MS;
extern const char DESKTOP_STOPPED[];  // a gesture kept from being made, not by Hushpane
// A Hushpane this check started; its standard output comes through a pipe.
struct Copy {
    HANDLE process;
    DWORD pid;
    HANDLE output;
    std::string written;
};
extern std::wstring g_exe;  // the hushpane.exe under test
extern Copy g_copies[MAX_COPIES];
extern int g_copyCount;
Copy* StartHushpane(Facts* facts);  // null, and why in `facts`, when none was started
bool Running(const Copy& copy);
std::string EndedHow(const Copy& copy);
std::string ReadOutput(Copy& copy);
void EndCopies();  // each as its own Exit ends it, with messages only
HWND AwaitHushpaneWindow(const Copy& copy);
bool IconPresent(HWND window, std::string* how);
// Who holds the foreground, and whether Hushpane's thread does (`held`).
std::string Foreground(const Copy& copy, bool* held);
// Why a gesture a check needs was not made: Hushpane's own window in its way is about Hushpane.
std::string NotMade(const Gesture& gesture, const Copy& copy);
// The shell's callback for a click on the icon, once it holds the foreground (TakeForeground):
// it lets the program take it, so that its menu gets keys and closes on a click elsewhere.
bool ClickIcon(const Copy& copy, LPARAM mouseMessage, Facts* facts);
HWND OpenMenu(const Copy& copy, Facts* facts);                 // by a right click on the icon
bool AwaitNoMenu(const Copy& copy, bool throughStop = false);  // as WaitFor
bool ChooseFromMenu(const Copy& copy, WPARAM item, Facts* facts, Millis* chosen);

// sight.cpp: what the eye sees of each taskbar.
void LookAtTaskbars(bool shown);
void NoteWhatTheEyeSees();
std::string SeenVisibleWhileHidden();  // for the closing line
bool SaveScreenshot(const wchar_t* path, std::string* problem);

// putback.cpp: Hushpane ended and the taskbars as the check found them, whatever stops it.
// Each taskbar as before the run, but never hidden, when `apply`; how many needed it.
int PutTaskbarsBack(bool apply);
void PutBack();  // copies ended, taskbars put back, own windows closed
int RunGuard();  // hushpane-check.exe --guard

// checks.cpp: the eight checks, in order; none once the user stops the check.
extern int g_passed;
extern int g_failed;
void RunChecks(const wchar_t* screenshot);
