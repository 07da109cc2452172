#pragma once

#include "resolve/QXUtilsUnit.h"

#include <QString>

// How a run ended, in the words the window's status shows at a glance.
enum TRunOutcomeKind {
    rokCompleted,    // every lookup and check was answered
    rokIncomplete,   // completed, but some lookups or checks got no answer
    rokBroken,       // Break, or the window closed during the run
    rokFailed        // the run could not be opened or closed
};

struct TRunOutcome {
    TRunOutcomeKind Kind = rokCompleted;
    QString Status;
};

// AError: why the run could not be opened or its output closed (empty: it
// could); ABroken: Break cut the run short.
TRunOutcome RunOutcome(const TQXRunCounters& ACounters, bool ABroken, const QString& AError);
