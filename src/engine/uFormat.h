#pragma once

#include "containers/uException.h"

#include <QString>
#include <QVariantList>

// A local wall-clock time as milliseconds since the epoch; 0 means never.
using TDateTime = qint64;

// The current local time.
TDateTime NowDateTime();
// "yyyy-mm-dd hh:nn:ss" in local time; the empty text for 0.
QString FormatDateTimeText(TDateTime AValue);
// Whole milliseconds from AFrom to ATo.
qint64 MilliSecondsBetween(TDateTime AFrom, TDateTime ATo);

// A copy sharing no data with S. Texts handed between threads are copied so,
// so that no two threads ever count references on one buffer (the counting
// inside the Qt library is invisible to the thread checker).
QString DetachedCopy(const QString& S);

VT_DECLARE_EXCEPTION(EConvertError, Exception)

// Fills a format in the classic printf-like dialect the log messages use:
// %s, %d, %u, %x, %X, %p and %%, with an optional "-" flag, width and, for
// %d/%u/%x, a precision that pads with zeros. A directive without a matching
// argument, or an unknown directive, raises EConvertError.
QString FormatText(const QString& AFormat, const QVariantList& AArgs);
