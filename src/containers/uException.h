#pragma once

#include <QString>
#include <QByteArray>
#include <exception>

// Base of every object a string list may carry, so owners can free through it.
class TObject {
public:
    virtual ~TObject() = default;
};

// The project's exception base: a message plus the class name that the log
// prints in an exception's full description.
class Exception : public std::exception {
public:
    explicit Exception(const QString& Msg, const char* AClassName = "Exception");
    const QString& Message() const { return FMessage; }
    QString ClassName() const { return QString::fromLatin1(FClassName); }
    const char* what() const noexcept override;

private:
    QString FMessage;
    const char* FClassName;
    mutable QByteArray FWhat;
};

// Declares an exception class that only adds its own name.
#define VT_DECLARE_EXCEPTION(Name, Base)                                                                     \
    class Name : public Base {                                                                               \
    public:                                                                                                  \
        explicit Name(const QString& Msg, const char* AClassName = #Name) : Base(Msg, AClassName) {}        \
    };

VT_DECLARE_EXCEPTION(EListError, Exception)
VT_DECLARE_EXCEPTION(EStringListError, EListError)
