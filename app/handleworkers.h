// Worker threads that each own a handle of the compression library and run
// the jobs one thread (the caller's) hands them, oldest first.  The threads
// start with the first job; a process that may not start threads (a limit on
// processes, a full thread table, no memory for a stack) goes on with those
// it has, and with none the caller's thread runs each job when it hands it
// over.  What a job throws (an allocation failure) never leaves the thread
// that runs it: the job ends there, done, and keeps the failure for the
// caller, who meets it when the job's turn comes.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

class CHandleWorkers {
public:
    // A piece of work; Run gets the handle of the thread that runs it.
    class Job {
    public:
        virtual ~Job() = default;
        virtual void Run(int handle) = 0;
        bool Done() const { return m_done.load(std::memory_order_acquire); }
        // What Run threw, once the job is done; null when it ran through.
        const std::exception_ptr& Failure() const { return m_failure; }

    private:
        friend class CHandleWorkers;
        std::atomic<bool> m_done{false};
        std::exception_ptr m_failure;
    };

    // Workers worth starting on this machine: one per processor the process
    // may run on, or 0 when there is one (the caller's thread then does all),
    // or when the compression library is tracing, which it does from one
    // thread only.
    static unsigned ForThisMachine();
    // Of the given workers, as many as fit in the memory the process may
    // still take (halved until they do, possibly to 0): each worker's
    // thread stack and bytesEach besides, with room kept for the rest of
    // the run.  Under a limit on the process's memory (ulimit -v or -d)
    // fewer workers let the run finish where all of them would leave it
    // none.
    static unsigned ThatFit(unsigned workers, size_t bytesEach);
    // What make(n) makes for n workers, n as many of workers as ThatFit
    // allows, halved again while making it runs out of memory (where the
    // memory is short, fewer workers; with none the caller's thread does
    // all): the object and, in fitting, its n; null when none fit.
    template <class Make>
    static auto MakeFitting(unsigned workers, size_t bytesEach, unsigned& fitting, Make make) -> decltype(make(1u))
    {
        for (fitting = ThatFit(workers, bytesEach); fitting > 0; fitting /= 2) {
            try {
                return make(fitting);
            } catch (const std::bad_alloc&) {
            }
        }
        return nullptr;
    }

    // Workers that may take up to jobs jobs at once.
    explicit CHandleWorkers(size_t jobs);
    // Waits for the jobs handed over, stops the threads and releases the
    // handles.
    ~CHandleWorkers();
    CHandleWorkers(const CHandleWorkers&) = delete;
    CHandleWorkers& operator=(const CHandleWorkers&) = delete;

    // Takes one handle per worker; false when they cannot all be had.
    bool TakeHandles(unsigned workers);

    // Hands job to the workers; Done() is false until it has run.
    void HandOver(Job& job);
    // Waits until job has run.
    void Wait(const Job& job);
    // Waits until every job handed over has run.
    void WaitAll();

private:
    void StartWorkers();
    void WorkerLoop(int handle);
    // Runs job, keeping what it throws in the job.
    static void RunJob(Job& job, int handle);

    std::mutex m_mutex;
    std::condition_variable m_workReady;
    std::condition_variable m_jobDone;
    std::vector<Job*> m_jobs;  // a ring, oldest job at m_nextJob
    size_t m_nextJob = 0;
    size_t m_queued = 0;  // jobs nobody took
    size_t m_busy = 0;    // jobs handed over that have not run yet
    unsigned m_idle = 0;  // workers waiting for a job
    bool m_callerWaits = false;
    bool m_stop = false;
    std::vector<int> m_handles;
    bool m_started = false;
    std::vector<std::thread> m_workers;
};

// What a job writes for its caller, the buffer kept from one job to the
// next: Reserve gives room behind the bytes used, growing the buffer (at
// least to twice its size) with what it holds kept.
struct CJobOutput {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
    size_t used = 0;

    uint8_t* Reserve(size_t room)
    {
        if (used + room > size) {
            const size_t grownSize = std::max(2 * size, used + room);
            std::unique_ptr<uint8_t[]> grown(new uint8_t[grownSize]);
            if (used)
                std::memcpy(grown.get(), bytes.get(), used);
            bytes = std::move(grown);
            size = grownSize;
        }
        return bytes.get() + used;
    }
};
