#include "resolve/dns/IdExceptions.h"

EIdSocketError::EIdSocketError(int AErrorCode, const QString& ADescription, const char* AClassName)
    : EIdException(QString("Socket Error # %1\r\n%2").arg(AErrorCode).arg(ADescription), AClassName),
      FLastError(AErrorCode) {}

EIdPackageSizeTooBig::EIdPackageSizeTooBig() : EIdSocketHandleError("Package Size Too Big.", "EIdPackageSizeTooBig") {}

EIdNotAllBytesSent::EIdNotAllBytesSent() : EIdSocketHandleError("Not all bytes sent.", "EIdNotAllBytesSent") {}
