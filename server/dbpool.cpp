#include "server/dbpool.h"

#include <memory>

namespace vnd::server {

DbPool::DbPool(int threads)
{
    for (int i = 0; i < threads; ++i)
        m_workers.push_back(std::make_unique<Worker>());
    for (auto &w : m_workers)
        m_threads.emplace_back([this, worker = w.get()] { Serve(*worker); });
}

DbPool::~DbPool()
{
    Join();
}

void DbPool::Post(unsigned preferred, std::function<void()> job)
{
    Worker *target;
    {
        std::lock_guard lock(m_mutex);
        auto idle = [](const Worker &w) { return !w.busy && w.jobs.empty(); };
        target = m_workers[preferred % m_workers.size()].get();
        if (!idle(*target)) {
            for (auto &w : m_workers) {
                if (idle(*w)) {
                    target = w.get();
                    break;
                }
            }
        }
        target->jobs.push_back(std::move(job));
    }
    // Woken after the lock is let go, the worker does not wake only to wait for it. The workers live as
    // long as the pool, so the one chosen is still there.
    target->wake.notify_one();
}

void DbPool::Serve(Worker &w)
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        w.wake.wait(lock, [&] { return !w.jobs.empty() || m_stopping; });
        if (w.jobs.empty())
            return;
        std::function<void()> job = std::move(w.jobs.front());
        w.jobs.pop_front();
        w.busy = true;
        lock.unlock();
        job();
        job = nullptr; // what the job holds goes here, outside the lock
        lock.lock();
        w.busy = false;
    }
}

void DbPool::Join()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
        for (auto &w : m_workers)
            w->wake.notify_one();
    }
    for (std::thread &t : m_threads)
        t.join();
}

} // namespace vnd::server
