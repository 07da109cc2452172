#include "app/uRunOutcome.h"

#include <QStringList>

namespace {

QString Counted(qint64 N, const char* One, const char* Many) {
    return QStringLiteral("%1 %2").arg(N).arg(QLatin1String(N == 1 ? One : Many));
}

} // namespace

TRunOutcome RunOutcome(const TQXRunCounters& ACounters, bool ABroken, const QString& AError) {
    TRunOutcome R;
    // A failure to open or close outweighs everything else: the output may
    // be missing or short whatever the counts say.
    if (!AError.isEmpty()) {
        // One line whatever the message holds, and never an empty reason.
        const QString Reason = AError.simplified();
        R.Kind = rokFailed;
        R.Status = QStringLiteral("Failed: ") + (Reason.isEmpty() ? QStringLiteral("unknown error") : Reason);
        return R;
    }
    if (ABroken) {
        R.Kind = rokBroken;
        R.Status = QStringLiteral("Broken off.");
        return R;
    }
    const qint64 Lookups = ACounters.LookupsFailed;
    const qint64 Checks = ACounters.BLChecksFailed;
    if (Lookups <= 0 && Checks <= 0) {
        R.Status = QStringLiteral("Completed.");
        return R;
    }
    // The advice names only what can help: asking again helps questions
    // that timed out or a busy server refused; a zone that refuses or errs,
    // or a server that answers nonsense, needs another zone or server.
    QStringList Hints;
    if (ACounters.Unanswered > 0)
        Hints << QStringLiteral("raise Retries on the DNS page");
    if (Lookups + Checks > ACounters.Unanswered)
        Hints << (Checks > 0 ? QStringLiteral("check the blocklist zones or the DNS server")
                             : QStringLiteral("check the DNS servers"));
    R.Kind = rokIncomplete;
    QString Counts;
    if (Checks <= 0)
        Counts = Counted(Lookups, "lookup failed", "lookups failed");
    else if (Lookups <= 0)
        Counts = Counted(Checks, "blocklist check failed", "blocklist checks failed");
    else
        Counts = Counted(Lookups, "lookup", "lookups") + QStringLiteral(", ") +
                 Counted(Checks, "blocklist check failed", "blocklist checks failed");
    R.Status = QStringLiteral("Completed: %1 (%2)").arg(Counts, Hints.join(QStringLiteral("; ")));
    return R;
}
