#include "lib/threads/work_pool.h"

#include <algorithm>

WorkPool::WorkPool(unsigned threads) {
    if (threads <= 1) {
        return;
    }
    try {
        for (unsigned i = 0; i < threads; ++i) {
            threads_.emplace_back([this] { work(); });
        }
    } catch (...) {
        // Fewer workers than asked (no memory, no thread) still do the work;
        // with none the caller's thread does it.
    }
}

WorkPool::~WorkPool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

std::uint64_t WorkPool::run(std::function<void()> job) {
    std::unique_lock<std::mutex> lock(mutex_);
    const std::uint64_t ticket = next_++;
    if (threads_.empty()) {
        lock.unlock();
        job();
        lock.lock();
        base_ = next_;
        return ticket;
    }
    queue_.emplace_back(ticket, std::move(job));
    lock.unlock();
    wake_.notify_one();
    return ticket;
}

void WorkPool::wait_for(std::uint64_t ticket) {
    std::unique_lock<std::mutex> lock(mutex_);
    wanted_ = ticket;
    done_.wait(lock, [&] { return base_ > ticket; });
    wanted_ = NO_TICKET;
}

void WorkPool::wait_all() {
    std::unique_lock<std::mutex> lock(mutex_);
    if (base_ == next_) {
        return;
    }
    wanted_ = next_ - 1;
    done_.wait(lock, [&] { return base_ == next_; });
    wanted_ = NO_TICKET;
}

void WorkPool::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        if (queue_.empty()) {
            return;  // stopping, and nothing left to do
        }
        auto [ticket, job] = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        job();
        lock.lock();
        const std::size_t at = static_cast<std::size_t>(ticket - base_);
        if (finished_.size() <= at) {
            finished_.resize(at + 1, false);
        }
        finished_[at] = true;
        std::size_t done = 0;
        while (done < finished_.size() && finished_[done]) {
            ++done;
        }
        if (done > 0) {
            finished_.erase(finished_.begin(), finished_.begin() + static_cast<std::ptrdiff_t>(done));
            base_ += done;
            // Only when the waiter's job is done: a wake for each job
            // would cost it a system call and a switch per job.
            if (wanted_ != NO_TICKET && base_ > wanted_) {
                done_.notify_all();
            }
        }
    }
}

unsigned work_threads(unsigned asked, unsigned processors) {
    if (asked >= 1 && asked <= 64) {
        return asked;
    }
    return std::clamp(processors, 1u, 8u);
}
