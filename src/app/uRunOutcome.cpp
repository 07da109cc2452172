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
    QStringList Failed;
    if (ACounters.LookupsFailed > 0)
        Failed << Counted(ACounters.LookupsFailed, "lookup failed", "lookups failed");
    if (ACounters.BLChecksFailed > 0)
        Failed << Counted(ACounters.BLChecksFailed, "blocklist check failed", "blocklist checks failed");
    if (Failed.isEmpty()) {
        R.Status = QStringLiteral("Completed.");
        return R;
    }
    // Unanswered questions are mostly datagrams lost on a busy path; asking
    // again is what helps.
    R.Kind = rokIncomplete;
    R.Status = QStringLiteral("Completed: %1 (raise Retries on the DNS page)").arg(Failed.join(QStringLiteral(", ")));
    return R;
}
