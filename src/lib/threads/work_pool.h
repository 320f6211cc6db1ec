// A few threads for per-file work (making, writing and closing files;
// reading files ahead), so that the system's per-file cost overlaps. The
// caller keeps the order: a job's outcome is the job's own to leave
// somewhere the caller reads after wait_for. No process-wide state; the
// library makes one per call that asks for threads.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkPool {
public:
    // `threads` workers; with 1 or fewer there are none and run() does the
    // job at once, on the caller's thread, as a run without threads would.
    explicit WorkPool(unsigned threads);
    ~WorkPool();  // every job handed in is done before it returns
    WorkPool(const WorkPool&) = delete;
    WorkPool& operator=(const WorkPool&) = delete;

    // Workers running: 0 when jobs run on the caller's thread.
    unsigned workers() const { return static_cast<unsigned>(threads_.size()); }

    // Hands the job to a worker, or does it now when there are none. The
    // job must not throw. Returns the job's ticket, in the order of run().
    std::uint64_t run(std::function<void()> job);

    // Waits until the job of `ticket`, and every one before it, is done.
    void wait_for(std::uint64_t ticket);

    // Waits until every job handed in is done.
    void wait_all();

private:
    void work();

    std::mutex mutex_;
    std::condition_variable wake_;  // a job to take, or stopping
    std::condition_variable done_;  // a job finished
    std::deque<std::pair<std::uint64_t, std::function<void()>>> queue_;
    std::vector<bool> finished_;    // by ticket - base_, while some before are not
    std::uint64_t base_ = 0;        // every ticket below is done
    std::uint64_t next_ = 0;        // the next ticket handed out
    static constexpr std::uint64_t NO_TICKET = ~std::uint64_t{0};
    std::uint64_t wanted_ = NO_TICKET;  // the ticket waited for, if any
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// How many threads to use: `asked` when it is 1 to 64, otherwise (0) the
// processors the system gives the process, at most 8, and 1 when there is
// one.
unsigned work_threads(unsigned asked, unsigned processors);
