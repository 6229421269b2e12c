#include "app/stopsignal.h"

#include <atomic>
#include <csignal>

#include "app/except.h"
#include "ni/ni.h"

namespace {

// Lock-free, so the handler may set it on whichever thread takes the signal.
std::atomic<int> s_stopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);
bool s_installed = false;

extern "C" void NoteStopSignal(int signal)
{
    int none = 0;
    s_stopSignal.compare_exchange_strong(none, signal);
}

bool StopSignalNoted()
{
    return s_stopSignal.load(std::memory_order_relaxed) != 0;
}

}  // namespace

void InstallStopSignalHandlers()
{
    if (s_installed)
        return;
    s_installed = true;
    struct sigaction action { };
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    // System calls go on after the handler: the run stops at its next safe
    // point, not in the middle of a read that would look like damage.
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A timestamp authority that takes the connection and never answers
    // would hold the run up for the network's whole time-out: its waits
    // end at the stop, and the failed request is then reported as the stop.
    NiSetStopCheck(StopSignalNoted);
}

void StopIfRequested()
{
    if (const int signal = s_stopSignal.load(std::memory_order_relaxed); signal != 0)
        throw CStopExcept(signal);
}
