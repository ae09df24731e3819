#include "host/hostutil.h"

#include "host/errors.h"

#include <QDateTime>
#include <QLocale>

#include <cstdlib>
#include <malloc.h>

namespace {
// With TZ unset, glibc stats /etc/localtime again on every local-time conversion, and every date field of
// a data packet is one or two (a 500-row page: thousands of system calls). Naming the same file in TZ
// makes it read once per process; the zone is the same. Runs when the library loads, before any thread.
const bool g_timeZonePinned = [] {
    if (std::getenv("TZ") == nullptr)
        ::setenv("TZ", ":/etc/localtime", 0);
    return true;
}();

// Pages of the sale list and their packets are megabytes, built, sent and read in fresh buffers on every
// call. Kept in the heap, freed buffers are reused instead of being handed back to the system and faulted
// in again page by page the next time (on a virtual machine, most of the cost of a page).
const bool g_largeBuffersKept = [] {
    mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 256 * 1024 * 1024);
    return true;
}();
} // namespace

QString Ajusta(const QString &text, int n)
{
    if (text.size() > n)
        throw Exception(QStringLiteral("O código '%1' tem mais de %2 caracteres").arg(text).arg(n));
    return text.rightJustified(n, QLatin1Char('0'));
}

bool EmptyString(const QString &text) { return text.trimmed().isEmpty(); }

bool EmptyUtf8(const QByteArray &text)
{
    for (const char c : text) {
        if (c == ' ' || (c >= '\t' && c <= '\r'))
            continue;
        // Any other ASCII character is content; past the ASCII range, Unicode says what is blank.
        return static_cast<unsigned char>(c) < 0x80 ? false : EmptyString(QString::fromUtf8(text));
    }
    return true;
}

namespace vnd {

double StrToFloatBr(const QString &text)
{
    QString s = text;
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    // Read with the decimal comma and no group separators: "1.234,50" becomes "1,234,50" and fails.
    static const QLocale br = [] {
        QLocale l(QLocale::Portuguese, QLocale::Brazil);
        l.setNumberOptions(QLocale::RejectGroupSeparator);
        return l;
    }();
    bool ok = false;
    const double v = br.toDouble(s.trimmed(), &ok);
    if (!ok || s.trimmed().isEmpty())
        throw EConvertError(QStringLiteral("'%1' não é um valor numérico válido").arg(text));
    return v;
}

namespace {

// "dd/MM/yyyy HH:mm:ss" read digit by digit, the form every reader builds: QDateTime::fromString costs
// more than the rest of a sale's conversions. Anything else (or a date that does not exist) is left to
// the general reading below, which decides.
QDateTime FullBrDateTime(const QString &s)
{
    if (s.size() != 19 || s[2] != QLatin1Char('/') || s[5] != QLatin1Char('/') || s[10] != QLatin1Char(' ') ||
        s[13] != QLatin1Char(':') || s[16] != QLatin1Char(':'))
        return {};
    auto num = [&s](int from, int len) { return DigitsAt(s, from, len); };
    const QDate date(num(6, 4), num(3, 2), num(0, 2));
    const QTime time(num(11, 2), num(14, 2), num(17, 2));
    if (!date.isValid() || !time.isValid())
        return {};
    return QDateTime(date, time);
}

} // namespace

QDateTime StrToDateTimeBr(const QString &text)
{
    const QString s = text.trimmed();
    if (const QDateTime fast = FullBrDateTime(s); fast.isValid())
        return fast;
    QDateTime dt = QDateTime::fromString(s, QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    if (!dt.isValid())
        dt = QDateTime::fromString(s, QStringLiteral("d/M/yyyy H:mm:ss"));
    if (!dt.isValid()) {
        const QDate d = QDate::fromString(s, QStringLiteral("dd/MM/yyyy"));
        if (d.isValid())
            dt = QDateTime(d, QTime(0, 0));
    }
    if (!dt.isValid())
        throw EConvertError(QStringLiteral("'%1' não é uma data válida").arg(text));
    return dt;
}

} // namespace vnd
