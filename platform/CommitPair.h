/*****************************************************************
| CommitPair.h - the steps of CommitTogether (TempOutput.h), the same
| on every system: each system's TempOutput.cpp instantiates them with
| what holds its terminating events off while the two names change
| (blocked signals on POSIX, the console's control events on Windows).
****************************************************************/
#ifndef TVKCRYPT_COMMIT_PAIR_H
#define TVKCRYPT_COMMIT_PAIR_H

#include "OutputPlace.h"
#include "TempOutput.h"

namespace tvkcrypt {

template <class TerminationHold>
SysError
CommitPair(TempOutput& first, const OutputPlace& first_place, bool first_replace, TempOutput& second,
           unsigned second_mode, bool second_replace, PairCommit& outcome)
{
    outcome = PairCommit();
    // the slow part before the window between the two names
    if (SysError error = second.Sync()) return error;
    TerminationHold hold;
    AsideFile kept(first_place);
    SysError error = first_replace ? kept.SetAside(false) : 0;
    // a file moved aside left its name empty: fill it, but never over a
    // file created there meanwhile
    if (!error) error = first.Commit(0600, first_replace && kept.OldAtName());
    if (!error) {
        error = second.Commit(second_mode, second_replace);
        if (!error) {
            if (SysError failure = kept.Remove()) {
                outcome.leftover = kept.Kept();
                outcome.leftover_error = failure;
            }
            return 0;
        }
        // the first name goes back to what it was, over this run's file
        // only; when even that fails, leftover tells where the old one is
        if (SysError failure = kept.PutBack(&first.Identity())) {
            outcome.leftover = kept.Kept();
            outcome.leftover_error = failure;
            outcome.old_at_name = false;
        }
        return error;
    }
    outcome.first_failed = true;
    if (SysError failure = kept.PutBack(nullptr)) {
        outcome.leftover = kept.Kept();
        outcome.leftover_error = failure;
        outcome.old_at_name = kept.OldAtName();
    }
    return error;
}

}  // namespace tvkcrypt

#endif  // TVKCRYPT_COMMIT_PAIR_H
