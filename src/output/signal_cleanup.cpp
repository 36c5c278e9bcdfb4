// signal_cleanup.cpp: the temporary files of open outputs removed when a signal ends the process.
//
// Contents: Chunk, claim_slot, remove_temporaries_and_resignal, RegisteredTemporary,
// SignalsHeld, SignalCleanup.
//
// A signal handler may run at any moment, in any thread, between any two instructions of the
// code that opens and closes output files. So the paths live in slots that it reads with
// lock-free atomic operations only: it takes each path with an exchange and removes its file
// with unlink, both safe inside a handler. The slots come in chunks that are never freed, so
// that a handler walking them never meets freed memory, and there are as many as there are
// output files open at once.
#include "output/signal_cleanup.h"

#include <pthread.h>
#include <unistd.h>

#include <cstring>

#include "marrowind/output.h"

namespace marrowind {

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
constexpr int kSignalCount = sizeof(kSignals) / sizeof(kSignals[0]);

constexpr std::size_t kSlotsPerChunk = 64;

struct Chunk {
    std::atomic<const char*> slots[kSlotsPerChunk];
    std::atomic<Chunk*> next;
};
static_assert(std::atomic<const char*>::is_always_lock_free);
static_assert(std::atomic<Chunk*>::is_always_lock_free);

// Zero-initialised as a static: every slot empty, no next chunk.
Chunk first_chunk;

// A free slot, now holding `path`; a new chunk is added when every slot is taken.
std::atomic<const char*>* claim_slot(const char* path)
{
    for (Chunk* chunk = &first_chunk;;) {
        for (std::atomic<const char*>& slot : chunk->slots) {
            const char* empty = nullptr;
            if (slot.compare_exchange_strong(empty, path)) return &slot;
        }
        Chunk* next = chunk->next.load();
        if (next == nullptr) {
            Chunk* added = new Chunk;
            for (std::atomic<const char*>& slot : added->slots) slot.store(nullptr);
            added->next.store(nullptr);
            // Another thread may have added one first; then that one is used.
            if (chunk->next.compare_exchange_strong(next, added))
                next = added;
            else
                delete added;
        }
        chunk = next;
    }
}

// Async-signal-safe: atomic exchanges, unlink, sigaction and raise only.
extern "C" void remove_temporaries_and_resignal(int signal_number)
{
    for (Chunk* chunk = &first_chunk; chunk != nullptr; chunk = chunk->next.load())
        for (std::atomic<const char*>& slot : chunk->slots) {
            const char* path = slot.exchange(nullptr);
            if (path != nullptr) unlink(path);
        }
    // The signal's own default action then ends the process, so that its parent sees which
    // signal it was; it is blocked while this handler runs and is delivered when it returns.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    raise(signal_number);
}

sigset_t cleanup_signals()
{
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal_number : kSignals) sigaddset(&signals, signal_number);
    return signals;
}

}  // namespace

namespace detail {

RegisteredTemporary::RegisteredTemporary(const std::string& path)
    : path_(new char[path.size() + 1])
{
    std::memcpy(path_.get(), path.c_str(), path.size() + 1);
    slot_ = claim_slot(path_.get());
}

RegisteredTemporary::~RegisteredTemporary()
{
    const char* mine = path_.get();
    // A handler that took the path may still be reading it: it is left to the ending process.
    if (!slot_->compare_exchange_strong(mine, nullptr)) static_cast<void>(path_.release());
}

SignalsHeld::SignalsHeld()
{
    const sigset_t signals = cleanup_signals();
    pthread_sigmask(SIG_BLOCK, &signals, &previous_);
}

SignalsHeld::~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

}  // namespace detail

struct SignalCleanup::Previous {
    struct sigaction actions[kSignalCount];
};

SignalCleanup::SignalCleanup() : previous_(new Previous)
{
    struct sigaction handler {};
    handler.sa_handler = remove_temporaries_and_resignal;
    handler.sa_mask = cleanup_signals();  // one signal at a time runs the handler
    for (int i = 0; i < kSignalCount; ++i) {
        sigaction(kSignals[i], nullptr, &previous_->actions[i]);
        if (previous_->actions[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &handler, nullptr);
    }
}

SignalCleanup::~SignalCleanup()
{
    for (int i = 0; i < kSignalCount; ++i) sigaction(kSignals[i], &previous_->actions[i], nullptr);
}

}  // namespace marrowind
