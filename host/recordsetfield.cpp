// Field types, the packet forms of values, and the field handle of the record set.
#include "host/errors.h"
#include "host/hostutil.h"
#include "host/recordsetvalues.h"

#include <QLocale>

namespace vnd::recordset {

const QString kDateFormat = QStringLiteral("yyyy-MM-ddTHH:mm:ss");

// Packet date-times are "yyyy-MM-ddTHH:mm:ss" at fixed positions. Read and written by hand: the format
// machinery of QDateTime costs microseconds a field, and a page of the sale list has thousands of them.
QDateTime ParsePacketDateTime(const QByteArray &text)
{
    if (text.size() == 19 && text[4] == '-' && text[7] == '-' && text[10] == 'T' && text[13] == ':' && text[16] == ':') {
        const QDateTime read = vnd::ReadFixedDateTime(text);
        if (read.isValid())
            return read;
    }
    return QDateTime::fromString(QString::fromLatin1(text), kDateFormat);
}

QByteArray FormatPacketDateTime(const QDateTime &value)
{
    const QDate d = value.date();
    const QTime t = value.time();
    if (d.year() < 0 || d.year() > 9999)
        return value.toString(kDateFormat).toUtf8();
    char buf[20];
    auto two = [&buf](int at, int v) {
        buf[at] = char('0' + v / 10);
        buf[at + 1] = char('0' + v % 10);
    };
    two(0, d.year() / 100);
    two(2, d.year() % 100);
    buf[4] = '-';
    two(5, d.month());
    buf[7] = '-';
    two(8, d.day());
    buf[10] = 'T';
    two(11, t.hour());
    buf[13] = ':';
    two(14, t.minute());
    buf[16] = ':';
    two(17, t.second());
    return QByteArray(buf, 19);
}

QString FormatFloatBr(double v)
{
    QString s = QString::number(v, 'g', 15);
    s.replace(QLatin1Char('.'), QLatin1Char(','));
    return s;
}

// The form a value takes in a field of this definition (what SetValue stores).
QVariant NormaliseValue(const TFieldDef &def, const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return {};
    switch (def.type) {
    case TFieldType::String:
    case TFieldType::FixedChar:
    case TFieldType::Memo: {
        QByteArray bytes;
        if (value.typeId() == QMetaType::QByteArray)
            bytes = value.toByteArray();
        else if (value.typeId() == QMetaType::QDateTime)
            bytes = value.toDateTime().toString(QStringLiteral("dd/MM/yyyy HH:mm:ss")).toUtf8();
        else if (value.typeId() == QMetaType::Double)
            bytes = FormatFloatBr(value.toDouble()).toUtf8();
        else
            bytes = value.toString().toUtf8();
        // A text longer than the field is cut to the size (in characters, never inside a character).
        if (def.type != TFieldType::Memo && def.size > 0 && bytes.size() > def.size) {
            const QString text = QString::fromUtf8(bytes);
            if (text.size() > def.size)
                bytes = text.left(def.size).toUtf8();
        }
        return bytes;
    }
    case TFieldType::DateTime: {
        if (value.typeId() == QMetaType::QDateTime)
            return value;
        if (value.typeId() == QMetaType::QDate)
            return QDateTime(value.toDate(), QTime(0, 0));
        const QString s = value.toString();
        if (s.isEmpty())
            return {};
        QDateTime dt = QDateTime::fromString(s, kDateFormat);
        if (!dt.isValid())
            dt = vnd::StrToDateTimeBr(s);
        return dt;
    }
    case TFieldType::Float: {
        if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
            const QString s = value.toString();
            if (s.isEmpty())
                return {};
            return vnd::StrToFloatBr(s);
        }
        return value.toDouble();
    }
    case TFieldType::Integer: {
        bool ok = true;
        const qint64 v = value.toLongLong(&ok);
        if (!ok)
            throw EConvertError(QStringLiteral("'%1' não é um valor inteiro válido (campo %2)").arg(value.toString(), def.name));
        return v;
    }
    case TFieldType::Boolean: return value.toBool();
    }
    return value;
}

} // namespace vnd::recordset

using namespace vnd::recordset;

const char *FieldTypeName(TFieldType type)
{
    switch (type) {
    case TFieldType::String: return "string";
    case TFieldType::FixedChar: return "fixed";
    case TFieldType::Memo: return "memo";
    case TFieldType::DateTime: return "datetime";
    case TFieldType::Float: return "float";
    case TFieldType::Integer: return "integer";
    case TFieldType::Boolean: return "boolean";
    }
    return "string";
}

TFieldType FieldTypeFromName(const QByteArray &name)
{
    if (name == "string")
        return TFieldType::String;
    if (name == "fixed")
        return TFieldType::FixedChar;
    if (name == "memo")
        return TFieldType::Memo;
    if (name == "datetime")
        return TFieldType::DateTime;
    if (name == "float")
        return TFieldType::Float;
    if (name == "integer")
        return TFieldType::Integer;
    if (name == "boolean")
        return TFieldType::Boolean;
    throw Exception(QStringLiteral("Tipo de campo desconhecido no pacote de dados: %1").arg(QString::fromUtf8(name)));
}

// ---- TField ----

const TFieldDef &TField::Def() const { return m_owner->m_defs.at(m_index); }

QVariant TField::Value() const
{
    if (m_row >= 0)
        return m_owner->m_rows.at(size_t(m_row)).values.At(size_t(m_index), &m_owner->m_pool);
    return m_owner->CurrentValue(m_index);
}

bool TField::IsNull() const { return !Value().isValid(); }

QString TField::AsString() const
{
    const QVariant v = Value();
    if (!v.isValid())
        return {};
    switch (Def().type) {
    case TFieldType::String:
    case TFieldType::FixedChar:
    case TFieldType::Memo: return QString::fromUtf8(v.toByteArray());
    case TFieldType::DateTime: {
        const QDateTime dt = v.toDateTime();
        if (dt.time() == QTime(0, 0))
            return dt.toString(QStringLiteral("dd/MM/yyyy"));
        return dt.toString(QStringLiteral("dd/MM/yyyy HH:mm:ss"));
    }
    case TFieldType::Float: return FormatFloatBr(v.toDouble());
    case TFieldType::Integer: return QString::number(v.toLongLong());
    case TFieldType::Boolean: return v.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    }
    return {};
}

QByteArray TField::AsBytes() const
{
    const QVariant v = Value();
    if (!v.isValid())
        return {};
    switch (Def().type) {
    case TFieldType::String:
    case TFieldType::FixedChar:
    case TFieldType::Memo: return v.toByteArray();
    default: return AsString().toUtf8();
    }
}

QDateTime TField::AsDateTime() const
{
    const QVariant v = Value();
    if (!v.isValid())
        return {};
    if (Def().type == TFieldType::DateTime)
        return v.toDateTime();
    return vnd::StrToDateTimeBr(AsString());
}

double TField::AsFloat() const
{
    const QVariant v = Value();
    if (!v.isValid())
        return 0.0;
    switch (Def().type) {
    case TFieldType::Float:
    case TFieldType::Integer: return v.toDouble();
    default: return vnd::StrToFloatBr(AsString());
    }
}

qint64 TField::AsInteger() const
{
    const QVariant v = Value();
    if (!v.isValid())
        return 0;
    if (Def().type == TFieldType::Integer || Def().type == TFieldType::Float)
        return v.toLongLong();
    bool ok = false;
    const qint64 r = AsString().trimmed().toLongLong(&ok);
    if (!ok)
        throw EConvertError(QStringLiteral("'%1' não é um valor inteiro válido").arg(AsString()));
    return r;
}

bool TField::AsBoolean() const
{
    const QVariant v = Value();
    return v.isValid() && v.toBool();
}

QString TField::DisplayText() const
{
    const auto &handler = m_owner->m_getText.at(m_index);
    return handler ? handler(*this) : AsString();
}

void TField::SetValue(const QVariant &value)
{
    if (m_row >= 0)
        throw Exception(QStringLiteral("Campo %1 de uma linha fixa não pode ser alterado").arg(FieldName()));
    m_owner->CheckEditing(*this);
    m_owner->m_buffer[m_index] = m_owner->Normalise(m_index, value);
}

void TField::SetAsString(const QString &text) { SetValue(text); }
void TField::SetAsBytes(const QByteArray &utf8) { SetValue(utf8); }
void TField::SetAsDateTime(const QDateTime &value) { SetValue(value); }
void TField::SetAsFloat(double value) { SetValue(value); }
void TField::SetAsInteger(qint64 value) { SetValue(value); }
void TField::SetAsBoolean(bool value) { SetValue(value); }
void TField::Clear() { SetValue(QVariant()); }

