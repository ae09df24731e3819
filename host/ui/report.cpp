#include "host/ui/report.h"

#include <QDate>
#include <QDateTime>
#include <QLocale>
#include <QVariant>

#include <deque>
#include <mutex>

namespace vnd
{

namespace
{

// A deque keeps the definitions in place, so pointers handed out stay valid as others register.
struct Registry {
    std::mutex lock;
    std::deque<TReportDef> defs;
};

Registry &Reports()
{
    static Registry registry;
    return registry;
}

const QLocale &Brazil()
{
    static const QLocale locale(QLocale::Portuguese, QLocale::Brazil);
    return locale;
}

} // namespace

void RegisterReport(const TReportDef &def)
{
    Registry &r = Reports();
    std::lock_guard guard(r.lock);
    for (TReportDef &existing : r.defs) {
        if (existing.code == def.code && existing.name == def.name) {
            existing = def;
            return;
        }
    }
    r.defs.push_back(def);
}

QStringList ReportNames(const QString &code)
{
    Registry &r = Reports();
    std::lock_guard guard(r.lock);
    QStringList names;
    for (const TReportDef &def : r.defs)
        if (def.code == code)
            names << def.name;
    return names;
}

const TReportDef *FindReport(const QString &code, const QString &name)
{
    Registry &r = Reports();
    std::lock_guard guard(r.lock);
    for (const TReportDef &def : r.defs)
        if (def.code == code && def.name == name)
            return &def;
    return nullptr;
}

QString FormatReportValue(const QVariant &value, TReportFormat format)
{
    if (!value.isValid() || value.isNull())
        return format == TReportFormat::Integer || format == TReportFormat::Money
                   ? FormatReportValue(0, format)
                   : QString();
    switch (format) {
    case TReportFormat::Text:
        return value.toString();
    case TReportFormat::Integer:
        return Brazil().toString(value.toLongLong());
    case TReportFormat::Money:
        return Brazil().toString(value.toDouble(), 'f', 2);
    case TReportFormat::Date: {
        QDate d;
        if (value.typeId() == QMetaType::QDate)
            d = value.toDate();
        else if (value.typeId() == QMetaType::QDateTime)
            d = value.toDateTime().date();
        else
            d = QDate::fromString(value.toString().left(10), QStringLiteral("yyyy-MM-dd"));
        return d.isValid() ? d.toString(QStringLiteral("dd/MM/yyyy")) : value.toString();
    }
    }
    return value.toString();
}

} // namespace vnd
