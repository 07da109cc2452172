#include "app/uRunOutcome.h"


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
        QString Reason = AError.trimmed();
        R.Kind = rokFailed;
        R.Status = QStringLiteral("Failed: ") + Reason;
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
    // Unanswered questions are mostly datagrams lost on a busy path; asking
    // again is what helps. Both kinds at once get the shorter hint, so the
    // sentence still fits the progress row.
    R.Kind = rokIncomplete;
    if (Checks <= 0)
        R.Status = QStringLiteral("Completed: %1 (raise Retries on the DNS page)")
                       .arg(Counted(Lookups, "lookup failed", "lookups failed"));
    else if (Lookups <= 0)
        R.Status = QStringLiteral("Completed: %1 (raise Retries on the DNS page)")
                       .arg(Counted(Checks, "blocklist check failed", "blocklist checks failed"));
    else
        R.Status = QStringLiteral("Completed: %1, %2 (raise Retries)")
                       .arg(Counted(Lookups, "lookup", "lookups"),
                            Counted(Checks, "blocklist check failed", "blocklist checks failed"));
    return R;
}
