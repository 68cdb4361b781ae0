/* progress.h - the host's progress bar and its request to stop, as the
 * transform bodies see them.
 *
 * A body counts its work in steps (a plane's filling, transform and coding,
 * say) and reports each step's end. The host's procedures are called on the
 * thread that called the plug-in, between steps, never from the threads
 * that share a step: hosts expect their callbacks on their own thread. A
 * host may pass null procedures; nothing is called then. */
#ifndef SPECTRA_PROGRESS_H
#define SPECTRA_PROGRESS_H

#include "filter_record.h"

#include <cstdint>

struct Progress {
    ProcPtr progress_proc; /* void (int32_t done, int32_t total) */
    ProcPtr abort_proc;    /* Boolean (void): nonzero when the user asks to stop */
    int32_t done = 0, total = 1;

    /* Reports the work done up to `step` of `total`, if that is further than
     * before, and returns whether the user asked to stop. */
    bool cancelled_at(int32_t step) {
        if (step > total) step = total;
        if (step > done) {
            done = step;
            if (progress_proc)
                reinterpret_cast<void (*)(int32_t, int32_t)>(progress_proc)(done, total);
        }
        return abort_proc && reinterpret_cast<Boolean (*)()>(abort_proc)() != 0;
    }
    bool cancelled_after(int32_t steps) { return cancelled_at(done + steps); }
};

#endif
