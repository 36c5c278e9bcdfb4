// signal_cleanup.cpp: removing the output's temporary file when a signal ends the program.
//
// Contents: remove_temporary_and_resignal, TemporaryRemovedOnSignal.
#include "app/signal_cleanup.h"

#include <unistd.h>

#include <atomic>

namespace {

// The temporary file's path for the handler; null when there is nothing to remove. A lock-free
// atomic pointer may be read inside a signal handler.
std::atomic<const char*> temporary_to_remove{nullptr};
static_assert(std::atomic<const char*>::is_always_lock_free);

// Async-signal-safe: unlink, sigaction and raise only.
extern "C" void remove_temporary_and_resignal(int signal_number)
{
    const char* path = temporary_to_remove.exchange(nullptr);
    if (path != nullptr) unlink(path);
    // The signal's own default action then ends the process, so that its parent sees which
    // signal it was; it is blocked while this handler runs and is delivered when it returns.
    struct sigaction default_action {};
    default_action.sa_handler = SIG_DFL;
    sigemptyset(&default_action.sa_mask);
    sigaction(signal_number, &default_action, nullptr);
    raise(signal_number);
}

}  // namespace

TemporaryRemovedOnSignal::TemporaryRemovedOnSignal()
{
    sigset_t blocked;
    sigemptyset(&blocked);
    for (int signal_number : kSignals) sigaddset(&blocked, signal_number);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous_mask_);

    struct sigaction handler {};
    handler.sa_handler = remove_temporary_and_resignal;
    handler.sa_mask = blocked;  // one signal at a time runs the handler
    for (int i = 0; i < kCount; ++i) {
        sigaction(kSignals[i], nullptr, &previous_[i]);
        if (previous_[i].sa_handler != SIG_IGN) sigaction(kSignals[i], &handler, nullptr);
    }
}

void TemporaryRemovedOnSignal::arm(const std::string& temporary)
{
    temporary_ = temporary;
    temporary_to_remove.store(temporary_.empty() ? nullptr : temporary_.c_str());
    pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
    unblocked_ = true;
}

TemporaryRemovedOnSignal::~TemporaryRemovedOnSignal()
{
    temporary_to_remove.store(nullptr);
    for (int i = 0; i < kCount; ++i) sigaction(kSignals[i], &previous_[i], nullptr);
    if (!unblocked_) pthread_sigmask(SIG_SETMASK, &previous_mask_, nullptr);
}
