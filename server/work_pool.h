// Threads for the server's slow work (pictures, exports, measurements, decodes), away from
// the threads that read requests and push the state, with a bounded queue: past the bound a
// job is refused at once, and the caller answers 503. The threads have the system's full
// stack, which cairo, fontconfig and the decoders' Python need.
#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class work_pool {
public:
    // A job, and whether its client is still there to take the answer: a job whose client
    // has gone is dropped when it reaches the front of the queue.
    struct job {
        std::function<void()> work;
        std::shared_ptr<const std::atomic<bool>> client_gone;  // may be null
    };

    work_pool(size_t threads, size_t queue_bound);
    ~work_pool();
    work_pool(const work_pool&) = delete;
    work_pool& operator=(const work_pool&) = delete;

    // false when the queue is full (nothing is queued then) or the pool has stopped.
    bool submit(job next);
    // Jobs waiting, not counting those under way.
    size_t waiting() const;
    // Drops what waits and joins the threads once the jobs under way have ended.
    void stop();

private:
    void serve();

    const size_t bound_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<job> queue_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};
