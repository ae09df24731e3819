#pragma once
// The database threads of the server: a bounded number, each keeping its own database connection (and
// with it the connection's page cache and prepared statements). A connection's calls go to the same
// thread while it is free, so they find its caches warm; when it is busy they go to a free one, so one
// slow call does not hold the others back.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace vnd::server {

class DbPool
{
public:
    explicit DbPool(int threads);
    ~DbPool();
    DbPool(const DbPool &) = delete;
    DbPool &operator=(const DbPool &) = delete;

    int Size() const { return int(m_workers.size()); }
    // Runs job on the thread `preferred` (taken modulo Size) when it is free, else on a free one, else
    // queued behind `preferred`'s work.
    void Post(unsigned preferred, std::function<void()> job);
    // Runs what is queued, then ends the threads. Called once; the destructor calls it too.
    void Join();

private:
    struct Worker
    {
        std::deque<std::function<void()>> jobs;
        std::condition_variable wake;
        bool busy = false;
    };
    void Serve(Worker &w);

    std::mutex m_mutex;
    std::vector<std::unique_ptr<Worker>> m_workers;
    std::vector<std::thread> m_threads;
    bool m_stopping = false;
};

} // namespace vnd::server
