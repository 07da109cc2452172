#include "containers/uException.h"

Exception::Exception(const QString& Msg, const char* AClassName) : FMessage(Msg), FClassName(AClassName) {}

const char* Exception::what() const noexcept {
    if (FWhat.isEmpty())
        FWhat = FMessage.toUtf8();
    return FWhat.constData();
}
