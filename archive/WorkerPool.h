#pragma once
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace quendle {

// Helper threads that live as long as the pool, so that a save of thousands of batches does not
// start two threads for each. run() hands out the items of one batch one at a time to whichever
// thread is free, the caller included once its own work is done: no thread waits at the end of a
// batch while another still has a long queue.
class WorkerPool {
  public:
    // `helpers` threads; with 0, the caller does all the work.
    explicit WorkerPool(size_t helpers);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // Worker slots: one per helper and one for the caller (the last), for per-thread tools.
    size_t slots() const { return threads_.size() + 1; }

    // Calls work(slot, item) for every item in [0, count), while the caller first runs
    // `meanwhile` and then takes items too; returns when all are done.
    void run(size_t count, const std::function<void(size_t slot, size_t item)>& work,
             const std::function<void()>& meanwhile = {});

    // The same in two halves, for a caller with work of its own that is not a function: start()
    // gives the items to the helpers and returns at once; finish() takes what is left with the
    // caller and waits. `work` must live until then. A run() (or start()) in between first
    // finishes the batch started before; finish() without a batch does nothing.
    void start(size_t count, const std::function<void(size_t slot, size_t item)>& work);
    void finish();

  private:
    void helperLoop(size_t slot);
    void takeItems(size_t slot);

    std::vector<std::jthread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_, finished_;
    const std::function<void(size_t, size_t)>* work_ = nullptr;
    size_t count_ = 0;
    std::atomic<size_t> next_{0};
    size_t generation_ = 0;
    size_t busy_ = 0;
    bool stopping_ = false;
    bool started_ = false; // a batch of start() not finished yet
};

} // namespace quendle
