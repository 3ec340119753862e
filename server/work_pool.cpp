#include "server/work_pool.h"

work_pool::work_pool(size_t threads, size_t queue_bound) : bound_(queue_bound) {
    for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { serve(); });
}

work_pool::~work_pool() { stop(); }

bool work_pool::submit(job next) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || queue_.size() >= bound_) return false;
        queue_.push_back(std::move(next));
    }
    wake_.notify_one();
    return true;
}

size_t work_pool::waiting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return queue_.size();
}

void work_pool::stop() {
    std::deque<job> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        dropped.swap(queue_);
    }
    dropped.clear();  // outside the lock: a job's end may end its connection
    wake_.notify_all();
    for (std::thread& t : threads_)
        if (t.joinable()) t.join();
}

void work_pool::serve() {
    for (;;) {
        job next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            next = std::move(queue_.front());
            queue_.pop_front();
        }
        if (next.client_gone && next.client_gone->load()) continue;
        next.work();
    }
}
