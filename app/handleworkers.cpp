#include "app/handleworkers.h"

#include <algorithm>

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

#include "cslib/cslib.h"

namespace {

// More workers than this find no more work in one archive than fewer would.
constexpr unsigned kMaxWorkers = 64;
// Memory kept free for the rest of a run when workers are counted against
// a limit: the run's own buffers, the names of a large directory listed at
// once (in a vector that doubles, both copies alive for a moment), and what
// the libraries it calls take on the way.  A worker only speeds the run up;
// one that may leave the run without memory is not worth starting.
constexpr size_t kRunRoom = 64u << 20;

// The stack each new thread gets, with its guard page.
size_t ThreadStackBytes()
{
    size_t bytes = 8u << 20;
    pthread_attr_t attr;
    if (pthread_getattr_default_np(&attr) == 0) {
        size_t size = 0;
        if (pthread_attr_getstacksize(&attr, &size) == 0 && size != 0)
            bytes = size;
        pthread_attr_destroy(&attr);
    }
    return bytes + 4096;
}

// Whether the process may map bytes more of memory now: a mapping it may
// write, as thread stacks and the heap are, made and dropped at once.
// Under a limit on its address space (or its data) that mapping fails
// where the memory would; untouched, it costs no page.
bool RoomFor(size_t bytes)
{
    void* probe = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (probe == MAP_FAILED)
        return false;
    munmap(probe, bytes);
    return true;
}

}  // namespace

unsigned CHandleWorkers::ForThisMachine()
{
    // A traced run keeps its trace lines in the order of the chunks.
    if (CsGetTraceLevel() != 0)
        return 0;
    // The processors this process may run on, which can be fewer than the
    // machine has (a CPU set or a container's share).
    unsigned cpus = std::thread::hardware_concurrency();
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        cpus = static_cast<unsigned>(CPU_COUNT(&set));
    return cpus > 1 ? std::min(cpus, kMaxWorkers) : 0;
}

unsigned CHandleWorkers::ThatFit(unsigned workers, size_t bytesEach)
{
    const size_t each = ThreadStackBytes() + bytesEach;
    unsigned fitting = std::min(workers, kMaxWorkers);
    while (fitting > 0 && !RoomFor(fitting * each + kRunRoom))
        fitting /= 2;
    return fitting;
}

CHandleWorkers::CHandleWorkers(size_t jobs)
    : m_jobs(jobs)
{
}

CHandleWorkers::~CHandleWorkers()
{
    WaitAll();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_workReady.notify_all();
    for (std::thread& worker : m_workers)
        worker.join();
    for (int handle : m_handles)
        if (handle > 0)
            CsReleaseHandle(handle);
}

bool CHandleWorkers::TakeHandles(unsigned workers)
{
    m_handles.assign(workers, 0);
    for (int& handle : m_handles)
        if (CsGetHandle(&handle) != 0) {
            handle = 0;
            return false;
        }
    return !m_handles.empty();
}

void CHandleWorkers::StartWorkers()
{
    m_started = true;
    try {
        while (m_workers.size() < m_handles.size())
            m_workers.emplace_back(&CHandleWorkers::WorkerLoop, this, m_handles[m_workers.size()]);
    } catch (...) {
    }
}

void CHandleWorkers::WorkerLoop(int handle)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        while (!m_stop && m_queued == 0) {
            ++m_idle;
            m_workReady.wait(lock);
            --m_idle;
        }
        if (m_stop)
            return;
        Job& job = *m_jobs[m_nextJob];
        m_nextJob = (m_nextJob + 1) % m_jobs.size();
        --m_queued;
        lock.unlock();
        RunJob(job, handle);
        lock.lock();
        job.m_done.store(true, std::memory_order_release);
        --m_busy;
        // Only the caller's thread waits for a job; a wake-up costs a system
        // call, so it is sent only when somebody waits.
        if (m_callerWaits)
            m_jobDone.notify_one();
    }
}

void CHandleWorkers::RunJob(Job& job, int handle)
{
    try {
        job.Run(handle);
    } catch (...) {
        // Taken without allocating: the exception object exists already.
        job.m_failure = std::current_exception();
    }
}

void CHandleWorkers::HandOver(Job& job)
{
    job.m_done.store(false, std::memory_order_relaxed);
    job.m_failure = nullptr;
    if (!m_started)
        StartWorkers();
    if (m_workers.empty()) {
        RunJob(job, m_handles[0]);
        job.m_done.store(true, std::memory_order_relaxed);
        return;
    }
    bool wake;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_jobs[(m_nextJob + m_queued) % m_jobs.size()] = &job;
        ++m_queued;
        ++m_busy;
        wake = m_idle > 0;
    }
    if (wake)
        m_workReady.notify_one();
}

void CHandleWorkers::Wait(const Job& job)
{
    if (job.Done())
        return;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_callerWaits = true;
    m_jobDone.wait(lock, [&] { return job.Done(); });
    m_callerWaits = false;
}

void CHandleWorkers::WaitAll()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_callerWaits = true;
    m_jobDone.wait(lock, [&] { return m_busy == 0; });
    m_callerWaits = false;
}
