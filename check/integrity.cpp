// Integrity levels. Windows keeps the input of a program from one that runs
// at a higher level (UIPI), and SendInput does not say when it dropped it.
// And a check that runs elevated would start an elevated Hushpane, whose
// window its callbacks reach where the shell's clicks, from Medium, might
// not: such a pass would prove nothing about a user's Hushpane.
#include "check/check.h"

namespace {

std::string LevelName(DWORD level)
{
    switch (level) {
    case INTEGRITY_UNKNOWN:
        return "unknown";
    case SECURITY_MANDATORY_UNTRUSTED_RID:
        return "Untrusted";
    case SECURITY_MANDATORY_LOW_RID:
        return "Low";
    case SECURITY_MANDATORY_MEDIUM_RID:
        return "Medium";
    case SECURITY_MANDATORY_HIGH_RID:
        return "High";
    case SECURITY_MANDATORY_SYSTEM_RID:
        return "System";
    default:
        return Format("0x%lX", level);
    }
}

DWORD ShellProcess()
{
    return WindowProcess(FindWindowW(L"Shell_TrayWnd", nullptr));
}

}  // namespace

DWORD IntegrityOf(DWORD pid)
{
    DWORD level = INTEGRITY_UNKNOWN;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    HANDLE token = nullptr;
    if (process != nullptr && OpenProcessToken(process, TOKEN_QUERY, &token)) {
        alignas(TOKEN_MANDATORY_LABEL) BYTE buffer[sizeof(TOKEN_MANDATORY_LABEL) + SECURITY_MAX_SID_SIZE];
        DWORD size = 0;
        if (GetTokenInformation(token, TokenIntegrityLevel, buffer, sizeof(buffer), &size)) {
            PSID label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer)->Label.Sid;
            level = *GetSidSubAuthority(label, *GetSidSubAuthorityCount(label) - 1U);
        }
        CloseHandle(token);
    }
    if (process != nullptr) {
        CloseHandle(process);
    }
    return level;
}

std::string IntegrityRefusal()
{
    const DWORD own = IntegrityOf(GetCurrentProcessId());
    const DWORD shell = IntegrityOf(ShellProcess());
    if (own == INTEGRITY_UNKNOWN || shell == INTEGRITY_UNKNOWN || own == shell) {
        return {};
    }
    const std::string levels = "the check runs at " + LevelName(own) + " integrity and the shell (" +
                               ProcessText(ShellProcess()) + ") at " + LevelName(shell);
    if (own > shell) {
        return levels + ": run elevated, the check and the Hushpane it starts could pass where the shell's own "
                        "clicks would not reach Hushpane; run it from a Command Prompt that is not elevated (not "
                        "\"Run as administrator\")";
    }
    return levels + ": Windows would drop the check's clicks and keys on the shell's level; run it from a Command "
                    "Prompt opened as the signed-in user, outside any sandbox";
}

void NoteIntegrity(DWORD hushpane)
{
    Note("integrity levels: the check " + LevelName(IntegrityOf(GetCurrentProcessId())) + ", Hushpane " +
         (hushpane == 0 ? std::string("not running") : LevelName(IntegrityOf(hushpane))) + ", the shell (" +
         ProcessText(ShellProcess()) + ") " + LevelName(IntegrityOf(ShellProcess())));
}

std::string InputDropped()
{
    HWND foreground = GetForegroundWindow();
    const DWORD holder = IntegrityOf(WindowProcess(foreground));
    const DWORD own = IntegrityOf(GetCurrentProcessId());
    if (foreground == nullptr || holder == INTEGRITY_UNKNOWN || own == INTEGRITY_UNKNOWN || holder <= own) {
        return {};
    }
    return " (Windows will drop this input: the foreground window, " + WindowText(foreground) + ", runs at " +
           LevelName(holder) + " integrity, above the check's " + LevelName(own) +
           ", as a program run as administrator does; this line is not a finding about Hushpane)";
}
