// hushpane-check.exe: drives a real hushpane.exe as its user does and reads back, from
// outside, what happened. Its files, bottom up: each calls only those before it here.
#pragma once

#include "check/readout.h"

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

// words.cpp: how the check says what it saw, and what a check found.
using Facts = std::vector<std::string>;  // what was seen, a phrase each, in the order seen
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
// What a check saw; its first expectation not met (a FAIL); what the desktop kept it from.
struct Finding {
    Facts seen;
    std::string failed;
    std::string skipped;
};
// Whether `met`, with what was read; unmet, it fails the check (or is seen, if it had failed).
bool Want(Finding* finding, bool met, const std::string& wanted, const std::string& ifMet,
          const std::string& ifNot);
bool Want(Finding* finding, bool met, const std::string& wanted, const std::string& read);
void Skip(Finding* finding, const std::string& why);  // seen, once the check failed or skipped

// run.cpp: the clock, the user's stop, and the taskbars as the check found them.
using Millis = long long;                 // signed: a time left may fall below zero
constexpr Millis HUSHPANE_LOOP_MS = 500;  // Hushpane's loop takes a message, then sleeps this long
constexpr Millis HUSHPANE_PEEK_MS = 20000;   // Ctrl+0 shows the taskbars this long, serving nothing
extern TaskbarState g_before[MAX_TASKBARS];  // every taskbar before the first check
extern int g_taskbarCount;
Millis Now();
double SecondsSince(Millis start);
std::string Within(Millis timeout);  // "within 1.5 s"
// The user's stop: Ctrl+C in the console, the console closing, a touch. Stop returns once an
// act under way has ended; NoteStop, for hooks that must return at once, does not wait.
void Stop(const char* how);
void NoteStop(const char* how);
const char* Stopped();  // how, once stopped; else null
// `act` unless stopped, under the lock a stop takes: nothing that makes Hushpane or the desktop
// act starts once a stop returns. True if it ran.
bool UnlessStopped(const std::function<void()>& act);
// Until `done`, for at most `timeout`; false on time-out, or at a stop unless `throughStop`.
bool WaitFor(const std::function<bool()>& done, Millis timeout, bool throughStop = false);
void RecordTaskbars();
struct TaskbarsRead {  // at one moment: what is judged of them is what is said
    TaskbarState now[MAX_TASKBARS];
};
TaskbarsRead ReadTaskbars();
bool AllHave(const TaskbarsRead& read, int alpha);
std::string Said(const TaskbarsRead& read);
bool AwaitAlpha(int alpha, Millis timeout, TaskbarsRead* last);  // `last` as last read

// notes.cpp: what the desktop is, in NOTE lines, and where it refuses the check.
bool UnderWine();
std::string IntegrityRefusal();  // empty when the check may run at its level
std::string BusyRefusal();       // a full-screen program or a presentation; empty when none
void NoteSystem();
void NoteWhileHidden();

// input.cpp: the one sender of input.
struct Gesture {  // sent, or why not, and what was in its way
    bool sent;
    std::string why;
    HWND inTheWay;
};
std::string NoInputDesktop();  // why keys and clicks have nowhere to go; empty when they have
bool PointerAt(POINT point);   // to the pixel that absolute positions round to
// Once the pointer is at `point` and `aimed` lies there; the pointer then goes to `rest`.
Gesture ClickOn(HWND aimed, const char* aimedName, POINT point, POINT rest);
// A chord of at most two keys, only while `ownWindow` is the foreground window, or while
// `menuThread` (0: none) is the foreground thread with its menu open.
Gesture PressKeys(std::initializer_list<WORD> keys, HWND ownWindow, DWORD menuThread);

// touch.cpp: the user's touch, heard by low-level hooks on a thread that pumps messages.
std::string HeldKey();  // a key or mouse button that is down, named; empty when none is
bool HookTouches();     // false when a hook could not be set
Millis LastInputAt();   // any program's input but the pointer put where it was; 0 before any

// channel.cpp: the check's guard, started, and told what to put back.
enum NewsKind : DWORD { TASKBAR_NEWS, COPY_NEWS, DONE_NEWS };
struct GuardNews {  // of one size, each written and read whole
    NewsKind kind;
    TaskbarState taskbar;  // as it was before the run
    HANDLE copy;           // the guard's own handle: unlike a process id, never another's
};
std::wstring OwnPath();
// No console and a process group of its own: Ctrl+C and the console are the check's. It
// inherits `input` or `output`, whichever is given, and no other handle of the check's.
bool Launch(std::wstring commandLine, DWORD flags, HANDLE input, HANDLE output,
            PROCESS_INFORMATION* started);
std::string StartGuard();              // and tells it the taskbars; empty, or why it could not
std::string HandOver(HANDLE process);  // a copy not yet run; empty, or why not
void TellGuardDone();                  // the desktop put back and the report whole
bool HearNews(GuardNews* news);        // in the guard: the next record, until the check is gone

// window.cpp: the check's own windows, and the touch hooks on their thread.
constexpr COLORREF BACKDROP_COLOUR = RGB(0x00, 0xB4, 0x5A);
extern HWND g_checkWindow;
extern HWND g_backdrops[MAX_TASKBARS];  // in the known colour, one per taskbar
std::string OpenOwnWindows();           // empty, or why the touch hooks could not be set
void CloseOwnWindows();
// A click on the check's window at a free place of the primary work area, away from `avoid`.
Gesture ClickCheckWindow(const RECT& avoid, Facts* seen);
bool TakeForeground(Facts* seen);  // by that click; true when the check then holds it

// copies.cpp: Hushpane started, used as the shell and a user use it, and ended.
constexpr int MAX_COPIES = 4;
constexpr WPARAM PAUSE_ITEM = 1;  // Hushpane's menu items, as its menu posts them
constexpr WPARAM EXIT_ITEM = 2;
// Its loop takes a posted command within a loop or two, or after a peek.
constexpr Millis EXIT_PATIENCE_MS = HUSHPANE_PEEK_MS + 4 * HUSHPANE_LOOP_MS;
struct Copy {  // a Hushpane this check started, found once
    HANDLE process;
    HANDLE output;  // its standard output, a pipe
    std::string written;
    HWND window;      // its message-only window, once found
    Millis calledAt;  // the last callback the check sent it
    DWORD pid;
    DWORD thread;  // its window's
    bool handed;   // the foreground was its to take: held by the check and allowed it
};
extern std::wstring g_exe;  // the hushpane.exe under test
extern Copy g_copies[MAX_COPIES];
extern int g_copyCount;
Copy* StartHushpane(Finding* finding);  // null when none was started (a SKIP)
bool Running(const Copy& copy);
std::string EndedHow(const Copy& copy);
std::string ReadOutput(Copy& copy);
bool AwaitWindow(Copy& copy);
HWND MenuOf(const Copy& copy);
HWND BoxOf(const Copy& copy);
void EndCopies();  // each as its own Exit ends it, with messages only
bool IconPresent(HWND window, std::string* how);
std::string Foreground(const Copy& copy, bool* held);  // who holds it; whether Hushpane's thread
// A gesture `what` needed, not made: a FAIL where Hushpane's own window was in its way.
void NotMade(const Gesture& gesture, const Copy& copy, const std::string& what, Finding* finding);
// The shell's callback for a click on the icon, the foreground first taken as the shell has
// it (TakeForeground), then allowed the program, so that its menu gets keys and closes on a
// click elsewhere.
bool ClickIcon(Copy& copy, LPARAM mouseMessage, Finding* finding);
HWND OpenMenu(Copy& copy, Finding* finding);  // by a right click on the icon
bool AwaitNoMenu(const Copy& copy, bool throughStop = false);
Millis ChooseFromMenu(Copy& copy, WPARAM item, Finding* finding);  // when clicked; 0 if not

// sight.cpp: what the eye sees of each taskbar.
void LookAtTaskbars(bool shown);
void NoteWhatTheEyeSees();
std::string SeenVisibleWhileHidden();  // for the closing line
bool SaveScreenshot(const wchar_t* path, std::string* problem);

// putback.cpp: each taskbar as before the run, but never hidden, when `apply`; how many needed it.
int PutTaskbarsBack(bool apply);
void PutBack();  // copies ended, taskbars put back, own windows closed

// guard.cpp: hushpane-check.exe --guard, which puts back what a check ended from outside left.
int RunGuard();

// checks.cpp: the eight checks, in order; none once the user stops the check.
constexpr int CHECK_COUNT = 8;
extern int g_passed, g_failed, g_skipped;
extern int g_reported;  // lines written, whatever their verdict
void RunChecks(const wchar_t* screenshot);
