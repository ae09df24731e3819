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
// EmptyString of UTF-8 text, without converting the whole of it when it starts with something else.
bool EmptyUtf8(const QByteArray &text);

namespace vnd {
// Decimal reading rule of the fiscal readers: "." becomes "," and the text is read with the decimal
// comma. "12.50" and "12,50" give 12.5; "" or "1.234,50" raise EConvertError naming the text.
double StrToFloatBr(const QString &text);
// Date-time from "dd/MM/yyyy HH:mm:ss" or "dd/MM/yyyy"; EConvertError when it does not convert.
QDateTime StrToDateTimeBr(const QString &text);

// The date and time at the fixed positions of "yyyy-MM-dd HH:mm:ss" (any separators) at the start of a
// text, read digit by digit: far cheaper than QDateTime::fromString on every row of a page. An invalid
// QDateTime when the text is shorter or its digits make no date and time.
inline int CodeAt(const QByteArray &text, qsizetype i) { return static_cast<unsigned char>(text[i]); }
inline int CodeAt(const QString &text, qsizetype i) { return text[i].unicode(); }
// The number the decimal digits of text[from, from + len) make; -1 when one of them is not a digit.
template <typename Text> int DigitsAt(const Text &text, int from, int len)
{
    int v = 0;
    for (int i = from; i < from + len; ++i) {
        const int d = CodeAt(text, i) - '0';
        if (d < 0 || d > 9)
            return -1;
        v = v * 10 + d;
    }
    return v;
}
template <typename Text> QDateTime ReadFixedDateTime(const Text &text)
{
    if (text.size() < 19)
        return {};
    auto num = [&text](int from, int len) { return DigitsAt(text, from, len); };
    const QDate date(num(0, 4), num(5, 2), num(8, 2));
    const QTime time(num(11, 2), num(14, 2), num(17, 2));
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time);
}
} // namespace vnd
