#pragma once
// How the summary's CSV and PDF write values: internal to the summary.

#include <QString>

#include <cstdlib>

namespace vnd::reportformat {

// Cents as "-12.34".
inline QString Money(qint64 cents)
{
    return QStringLiteral("%1%2.%3")
        .arg(cents < 0 ? QStringLiteral("-") : QString())
        .arg(std::abs(cents) / 100)
        .arg(std::abs(cents) % 100, 2, 10, QLatin1Char('0'));
}

// The model's code as the accountant reads it.
inline QString ModelName(const QString &model)
{
    return model == QLatin1String("65") ? QStringLiteral("NFC-e 65")
           : model == QLatin1String("59") ? QStringLiteral("SAT 59")
                                          : model;
}

} // namespace vnd::reportformat
