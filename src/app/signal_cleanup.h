// signal_cleanup.h: an output's temporary file removed when a signal ends the program.
//
// Contents:
//   TemporaryRemovedOnSignal  while it lives, SIGINT, SIGTERM, SIGHUP and SIGXFSZ remove the
//                             temporary file being written, then end the process as they would
//                             have (status 128 + the signal's number in a shell)
//
// Only the program installs signal handlers: the library and the code that others link never
// change a process's signal dispositions.
#ifndef MARROWIND_APP_SIGNAL_CLEANUP_H
#define MARROWIND_APP_SIGNAL_CLEANUP_H

#include <signal.h>

#include <string>

class TemporaryRemovedOnSignal {
public:
    // Blocks the four signals until arm() or the end of the object, and installs the handler
    // for each that is not ignored (a signal ignored since the start, as nohup ignores SIGHUP,
    // stays ignored: with SIGXFSZ ignored, a write past the file-size limit simply fails).
    TemporaryRemovedOnSignal();

    // Restores the handlers and the signal mask found at construction.
    ~TemporaryRemovedOnSignal();

    TemporaryRemovedOnSignal(const TemporaryRemovedOnSignal&) = delete;
    TemporaryRemovedOnSignal& operator=(const TemporaryRemovedOnSignal&) = delete;

    // From now on a signal removes `temporary` (nothing when it is empty); unblocks the signals,
    // so one that came while the file was being created is handled now.
    void arm(const std::string& temporary);

private:
    static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGXFSZ};
    static constexpr int kCount = sizeof(kSignals) / sizeof(kSignals[0]);

    std::string temporary_;
    struct sigaction previous_[kCount];
    sigset_t previous_mask_;
    bool unblocked_ = false;
};

#endif
