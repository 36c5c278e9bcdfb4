// worker_threads.h: running a stage's work on several threads without counting on any of them.
//
// Contents:
//   thread_count    how many threads a stage asks for
//   run_on_threads  runs a worker on every thread, the caller included
//
// The work of every stage is handed out through shared counters, one claim at a time, so that
// however many threads take part, the threads that do share all of it out among themselves.
// Other programs share the machine: a helper thread that the system cannot start (a thread
// limit, little address space left) or that cannot get its working memory only means fewer
// hands on the work, never a failure. The calling thread always takes part.
#ifndef MARROWIND_SCORING_PARALLEL_WORKER_THREADS_H
#define MARROWIND_SCORING_PARALLEL_WORKER_THREADS_H

#include <algorithm>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "core/cpus.h"
#include "marrowind/errors.h"

namespace marrowind {

// `requested` threads (0 or less: the default, see default_thread_count), but no more than
// there are items of work, and at least one.
inline int thread_count(int requested, long long work_items)
{
    const int threads = requested > 0 ? requested : detail::default_thread_count();
    return static_cast<int>(std::max(1LL, std::min<long long>(threads, work_items)));
}

// Runs work(t, prepare(t)) for t = 0 .. threads-1 (or fewer), t = 0 on the calling thread.
// prepare gets a thread's working memory before it claims any work: where a helper's throws
// OutOfMemory, that helper leaves its share to the others. The first exception thrown by the
// calling thread's prepare or by any work is rethrown here once every thread has finished.
template <typename Prepare, typename Work>
void run_on_threads(int threads, Prepare&& prepare, Work&& work)
{
    std::exception_ptr failure;
    std::mutex failure_lock;
    auto take_part = [&](int t) {
        try {
            std::optional<decltype(prepare(t))> state;
            try {
                state.emplace(prepare(t));
            } catch (const OutOfMemory&) {
                if (t > 0) return;
                throw;
            }
            work(t, *state);
        } catch (...) {
            std::lock_guard<std::mutex> lock(failure_lock);
            if (!failure) failure = std::current_exception();
        }
    };
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t) {
        try {
            helpers.emplace_back(take_part, t);
        } catch (const std::system_error&) {
            break;
        } catch (const std::bad_alloc&) {
            break;
        }
    }
    take_part(0);
    for (std::thread& helper : helpers) helper.join();
    if (failure) std::rethrow_exception(failure);
}

}  // namespace marrowind

#endif
