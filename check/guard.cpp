// The guard: where the check cannot clean up (ended from outside, crashed, ended by its
// console as Wine's is), this second hushpane-check.exe, started without a console before any
// copy, does it, with messages only, once the channel from the check ends without its word.
#include "check/check.h"

int RunGuard()
{
    Stop("the guard acts with messages only");
    GuardNews news = {};
    while (HearNews(&news) && news.kind != DONE_NEWS) {
        if (news.kind == TASKBAR_NEWS && g_taskbarCount < MAX_TASKBARS) {
            g_before[g_taskbarCount++] = news.taskbar;
        } else if (news.kind == COPY_NEWS && g_copyCount < MAX_COPIES) {
            g_copies[g_copyCount++] = {news.copy, nullptr, {}, nullptr, 0, GetProcessId(news.copy),
                                       0,         false};
        }
    }
    if (news.kind != DONE_NEWS) {
        EndCopies();
        PutTaskbarsBack(true);
    }
    return 0;
}
