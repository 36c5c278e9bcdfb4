// signal_cleanup.h: the temporary files being written, kept where a signal handler finds them.
//
// Contents:
//   RegisteredTemporary  one temporary file's path, removed by a SignalCleanup's handler for as
//                        long as it is registered
//   SignalsHeld          holds back the handler's signals in the calling thread while it lives
//
// The handler itself, and SignalCleanup that installs it, are in <marrowind/output.h>.
#ifndef MARROWIND_OUTPUT_SIGNAL_CLEANUP_H
#define MARROWIND_OUTPUT_SIGNAL_CLEANUP_H

#include <signal.h>

#include <atomic>
#include <memory>
#include <string>

namespace marrowind::detail {

class RegisteredTemporary {
public:
    // Registers a copy of `path`. Throws std::bad_alloc when no room can be had for it.
    explicit RegisteredTemporary(const std::string& path);

    // Unregisters the path; a handler that has already taken it is ending the process, and
    // keeps it.
    ~RegisteredTemporary();

    RegisteredTemporary(const RegisteredTemporary&) = delete;
    RegisteredTemporary& operator=(const RegisteredTemporary&) = delete;

private:
    std::unique_ptr<char[]> path_;
    std::atomic<const char*>* slot_;
};

// A file created while its signals are held is registered before any of them can remove it:
// one that arrives meanwhile is handled when they are let through again.
class SignalsHeld {
public:
    SignalsHeld();
    ~SignalsHeld();

    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t previous_;
};

}  // namespace marrowind::detail

#endif
