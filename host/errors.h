#pragma once
// Exception kinds of the host framework. Every error of the system is one of these; handlers run
// through RunHandler (platform.h), which shows the message of a general error and stays silent on an abort.

#include <QString>
#include <stdexcept>

// The general exception class: an input or runtime error with a user-readable (Portuguese) message.
class Exception : public std::runtime_error
{
public:
    explicit Exception(const QString &message);
    QString Message() const { return m_message; }

private:
    QString m_message;
};

// Raised after a message was already shown (MensErro): ends the running handler without a second dialog.
class EAbort : public std::exception
{
public:
    const char *what() const noexcept override { return "Operation aborted"; }
};

// The application server could not be reached or the transport failed.
class EConnectionError : public Exception
{
public:
    using Exception::Exception;
};

// A server method failed; the message is the server's.
class EServerError : public Exception
{
public:
    using Exception::Exception;
};

// A text that does not convert to a number or a date.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
};
