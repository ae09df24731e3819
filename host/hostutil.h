#pragma once
// Small text helpers of the host framework.

#include <QDateTime>
#include <QString>

// a when the condition holds, else b.
template <typename T> T iif(bool condition, const T &a, const T &b) { return condition ? a : b; }
inline QString iif(bool condition, const char *a, const char *b)
{
    return QString::fromUtf8(condition ? a : b);
}

// The code at exactly n characters, left-padded with "0" as keys are stored ("1" -> "0001").
// A value longer than n is an Exception naming it: a key is never cut silently.
QString Ajusta(const QString &text, int n);

// True for an empty text (a text of blanks only counts as empty too, as in the host's test).
bool EmptyString(const QString &text);

namespace vnd {
// Decimal reading rule of the fiscal readers: "." becomes "," and the text is read with the decimal
// comma. "12.50" and "12,50" give 12.5; "" or "1.234,50" raise EConvertError naming the text.
double StrToFloatBr(const QString &text);
// Date-time from "dd/MM/yyyy HH:mm:ss" or "dd/MM/yyyy"; EConvertError when it does not convert.
QDateTime StrToDateTimeBr(const QString &text);
} // namespace vnd
