#include "archive/WorkerPool.h"

namespace quendle {

WorkerPool::WorkerPool(size_t helpers) {
    for (size_t i = 0; i < helpers; ++i)
        threads_.emplace_back([this, i] { helperLoop(i); });
}

WorkerPool::~WorkerPool() {
    finish();
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    threads_.clear(); // joins
}

void WorkerPool::takeItems(size_t slot) {
    for (size_t item = next_.fetch_add(1); item < count_; item = next_.fetch_add(1))
        (*work_)(slot, item);
}

void WorkerPool::helperLoop(size_t slot) {
    size_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
        if (stopping_)
            return;
        seen = generation_;
        ++busy_;
        lock.unlock();
        takeItems(slot);
        lock.lock();
        if (--busy_ == 0)
            finished_.notify_one();
    }
}

void WorkerPool::run(size_t count, const std::function<void(size_t, size_t)>& work,
                     const std::function<void()>& meanwhile) {
    finish();
    if (threads_.empty() || count < 2) {
        if (meanwhile)
            meanwhile();
        for (size_t i = 0; i < count; ++i)
            work(threads_.size(), i);
        return;
    }
    start(count, work);
    if (meanwhile)
        meanwhile();
    finish();
}

void WorkerPool::start(size_t count, const std::function<void(size_t, size_t)>& work) {
    finish();
    {
        std::lock_guard lock(mutex_);
        work_ = &work;
        count_ = count;
        next_ = 0;
        ++generation_;
    }
    started_ = true;
    if (!threads_.empty())
        wake_.notify_all();
}

void WorkerPool::finish() {
    if (!started_)
        return;
    started_ = false;
    takeItems(threads_.size());
    std::unique_lock lock(mutex_);
    // A helper that wakes late finds no item left and leaves at once; all must be out before
    // `work` goes out of scope.
    finished_.wait(lock, [&] { return busy_ == 0 && next_ >= count_; });
    work_ = nullptr;
}

} // namespace quendle
