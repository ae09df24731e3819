#pragma once
// What the list figures share: the filter record of a period with every other filter "T", and the
// process's resident memory and its peak.

#include "export/ui/listanotas.h"

#include <QDate>
#include <QFile>

#include <cstring>

namespace vndbench {

// A figure of /proc/self/status in kB ("VmHWM:" the peak resident memory since the start or the last
// ResetPeak, "VmRSS:" the present one).
inline qint64 StatusKb(const char *key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith(key))
            return line.mid(qsizetype(std::strlen(key))).trimmed().split(' ').first().toLongLong();
    return 0;
}
inline qint64 PeakKb() { return StatusKb("VmHWM:"); }
inline qint64 ResidentKb() { return StatusKb("VmRSS:"); }

// Writing 5 to clear_refs starts a new peak at the present resident size.
inline void ResetPeak()
{
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

// The filter record of the main screen for the days from..to, every other filter "T", both situations.
inline void FillFilter(TClientDataSet &filter, const QDate &from, const QDate &to)
{
    vnd::DefineDadosFiltro(filter);
    filter.Append();
    for (const char *field : {"FILIAL", "CAIXA", "CLIENTE", "TIPORECE", "NRNOTAFISCAL"})
        filter.FieldByName(QString::fromLatin1(field)).SetAsString(QStringLiteral("T"));
    filter.FieldByName(QStringLiteral("DATAINI")).SetAsDateTime(QDateTime(from, QTime(0, 0)));
    filter.FieldByName(QStringLiteral("DATAFIM")).SetAsDateTime(QDateTime(to, QTime(0, 0)));
    filter.FieldByName(QStringLiteral("SITUACAONF")).SetAsString(QStringLiteral("A_C"));
    filter.Post();
}

} // namespace vndbench
