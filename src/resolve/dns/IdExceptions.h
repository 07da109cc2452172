#pragma once

#include "containers/uException.h"

// Failures of the DNS lookup client. The log prints the message, so the texts
// are fixed.
VT_DECLARE_EXCEPTION(EIdException, Exception)
VT_DECLARE_EXCEPTION(EIdDnsResolverError, EIdException)

// A failure of the socket layer or of the server host-name look-up, with the
// platform's error number.
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int AErrorCode, const QString& ADescription, const char* AClassName = "EIdSocketError");
    int LastError() const { return FLastError; }

private:
    int FLastError;
};

VT_DECLARE_EXCEPTION(EIdSocketHandleError, EIdException)

class EIdPackageSizeTooBig : public EIdSocketHandleError {
public:
    EIdPackageSizeTooBig();
};

class EIdNotAllBytesSent : public EIdSocketHandleError {
public:
    EIdNotAllBytesSent();
};
