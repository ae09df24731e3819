#include "host/recordset.h"

#include "host/errors.h"
#include "host/hostutil.h"

#include <QLocale>

namespace {
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
} // namespace

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
        return m_owner->m_rows.at(m_row).values.at(m_index);
    return m_owner->CurrentValues().at(m_index);
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

// ---- TClientDataSet ----

TClientDataSet::TClientDataSet(QObject *parent) : QObject(parent) {}
TClientDataSet::~TClientDataSet() = default;

int TClientDataSet::AddField(const TFieldDef &def)
{
    if (Active())
        throw Exception(QStringLiteral("Campo %1 não pode ser criado com a tabela aberta").arg(def.name));
    if (FieldIndex(def.name) >= 0)
        throw Exception(QStringLiteral("Campo %1 duplicado").arg(def.name));
    m_defs.push_back(def);
    m_getText.emplace_back();
    m_fieldByName.insert(def.name, int(m_defs.size()) - 1);
    return int(m_defs.size()) - 1;
}

int TClientDataSet::AddField(const QString &name, TFieldType type, int size, const QString &label)
{
    TFieldDef def;
    def.name = name;
    def.type = type;
    def.size = size;
    def.label = label;
    return AddField(def);
}

void TClientDataSet::SetOnGetText(const QString &fieldName, TGetTextEvent handler)
{
    const int i = FieldIndex(fieldName);
    if (i < 0)
        throw Exception(QStringLiteral("Campo não encontrado: %1").arg(fieldName));
    m_getText[i] = std::move(handler);
}

int TClientDataSet::FieldIndex(const QString &name) const
{
    // Names are unique whatever their case, so a name spelled as defined is the one; readers ask for
    // every field of every row by name.
    if (const auto exact = m_fieldByName.constFind(name); exact != m_fieldByName.cend())
        return exact.value();
    for (size_t i = 0; i < m_defs.size(); ++i)
        if (m_defs[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return int(i);
    return -1;
}

void TClientDataSet::CreateDataSet()
{
    m_rows.clear();
    m_deleted.clear();
    m_state = TDataSetState::Browse;
    m_current = -1;
    m_eof = m_bof = true;
    emit stateChanged();
    NotifyData();
}

void TClientDataSet::Close()
{
    m_rows.clear();
    m_deleted.clear();
    m_state = TDataSetState::Inactive;
    m_current = -1;
    m_eof = m_bof = true;
    emit stateChanged();
    NotifyData();
}

void TClientDataSet::EmptyDataSet()
{
    CheckActive();
    if (m_state != TDataSetState::Browse)
        Cancel();
    m_rows.clear();
    m_deleted.clear();
    m_current = -1;
    m_eof = m_bof = true;
    NotifyData();
}

void TClientDataSet::CheckActive() const
{
    if (!Active())
        throw Exception(QStringLiteral("Operação não permitida em uma tabela fechada"));
}

void TClientDataSet::CheckEditing(const TField &field) const
{
    if (m_state != TDataSetState::Edit && m_state != TDataSetState::Insert)
        throw Exception(QStringLiteral("A tabela não está em modo de edição (campo %1)").arg(field.FieldName()));
}

const std::vector<QVariant> &TClientDataSet::CurrentValues() const
{
    if (m_state == TDataSetState::Edit || m_state == TDataSetState::Insert)
        return m_buffer;
    if (m_current < 0 || m_current >= int(m_rows.size())) {
        static const std::vector<QVariant> empty(256);
        if (m_defs.size() > empty.size())
            throw Exception(QStringLiteral("Nenhum registro corrente"));
        return empty;
    }
    return m_rows[m_current].values;
}

// The form a value takes in a field of this definition (what SetValue stores).
static QVariant NormaliseValue(const TFieldDef &def, const QVariant &value)
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

QVariant TClientDataSet::Normalise(int field, const QVariant &value) const { return NormaliseValue(m_defs[field], value); }

void TClientDataSet::Append()
{
    CheckActive();
    if (m_state != TDataSetState::Browse)
        Post();
    m_buffer.assign(m_defs.size(), QVariant());
    m_insertAt = int(m_rows.size());
    m_state = TDataSetState::Insert;
    emit stateChanged();
}

void TClientDataSet::Insert()
{
    CheckActive();
    if (m_state != TDataSetState::Browse)
        Post();
    m_buffer.assign(m_defs.size(), QVariant());
    m_insertAt = m_current < 0 ? 0 : m_current;
    m_state = TDataSetState::Insert;
    emit stateChanged();
}

void TClientDataSet::Edit()
{
    CheckActive();
    if (m_state != TDataSetState::Browse)
        return;
    if (m_current < 0 || m_current >= int(m_rows.size()))
        throw Exception(QStringLiteral("Não há registro para editar"));
    m_buffer = m_rows[m_current].values;
    m_state = TDataSetState::Edit;
    emit stateChanged();
}

void TClientDataSet::Post()
{
    if (m_state == TDataSetState::Insert) {
        Row row;
        row.values = std::move(m_buffer);
        row.status = RowStatus::Inserted;
        m_rows.insert(m_rows.begin() + m_insertAt, std::move(row));
        m_current = m_insertAt;
        m_eof = m_bof = false;
    } else if (m_state == TDataSetState::Edit) {
        Row &row = m_rows[m_current];
        if (row.values != m_buffer) {
            if (row.status == RowStatus::Unchanged) {
                row.original = std::make_shared<std::vector<QVariant>>(std::move(row.values));
                row.status = RowStatus::Modified;
            }
            row.values = std::move(m_buffer);
        }
    } else {
        return;
    }
    m_buffer.clear();
    m_state = TDataSetState::Browse;
    emit stateChanged();
    NotifyData();
}

void TClientDataSet::Cancel()
{
    if (m_state != TDataSetState::Edit && m_state != TDataSetState::Insert)
        return;
    m_buffer.clear();
    m_state = TDataSetState::Browse;
    emit stateChanged();
}

void TClientDataSet::Delete()
{
    CheckActive();
    Cancel();
    if (m_current < 0 || m_current >= int(m_rows.size()))
        throw Exception(QStringLiteral("Não há registro para excluir"));
    Row &row = m_rows[m_current];
    if (row.status == RowStatus::Modified)
        m_deleted.push_back(*row.original);
    else if (row.status == RowStatus::Unchanged)
        m_deleted.push_back(row.values);
    m_rows.erase(m_rows.begin() + m_current);
    const int from = m_current;
    Seek(from, +1);
    if (m_eof)
        Seek(from - 1, -1);
    NotifyData();
}

bool TClientDataSet::Passes(int row) const
{
    if (!m_filtered || m_filterTerms.empty())
        return true;
    const auto &values = m_rows[row].values;
    for (const auto &[field, wanted] : m_filterTerms) {
        const QVariant &v = values[field];
        if (v.toByteArray() != wanted)
            return false;
    }
    return true;
}

void TClientDataSet::Seek(int from, int step)
{
    for (int i = from; i >= 0 && i < int(m_rows.size()); i += step) {
        if (Passes(i)) {
            m_current = i;
            m_eof = m_bof = false;
            emit currentChanged(i);
            return;
        }
    }
    if (step > 0)
        m_eof = true;
    else
        m_bof = true;
    if (m_current >= 0 && (m_current >= int(m_rows.size()) || !Passes(m_current)))
        m_current = -1;
}

void TClientDataSet::First()
{
    CheckActive();
    Post();
    m_current = -1;
    m_eof = m_bof = true;
    Seek(0, +1);
    m_bof = true;
}

void TClientDataSet::Last()
{
    CheckActive();
    Post();
    m_current = -1;
    m_eof = m_bof = true;
    Seek(int(m_rows.size()) - 1, -1);
    m_eof = true;
}

void TClientDataSet::Next()
{
    CheckActive();
    Post();
    const int at = m_current;
    m_bof = false;
    for (int i = at + 1; i < int(m_rows.size()); ++i) {
        if (Passes(i)) {
            m_current = i;
            emit currentChanged(i);
            return;
        }
    }
    m_eof = true;
}

void TClientDataSet::Prior()
{
    CheckActive();
    Post();
    m_eof = false;
    for (int i = m_current - 1; i >= 0; --i) {
        if (Passes(i)) {
            m_current = i;
            emit currentChanged(i);
            return;
        }
    }
    m_bof = true;
}

void TClientDataSet::SetRecNo(int row)
{
    CheckActive();
    Post();
    if (row < 0 || row >= int(m_rows.size()))
        throw Exception(QStringLiteral("Registro %1 fora da tabela").arg(row));
    m_current = row;
    m_eof = m_bof = false;
    emit currentChanged(row);
}

int TClientDataSet::RecordCount() const
{
    if (!m_filtered || m_filterTerms.empty())
        return int(m_rows.size());
    int n = 0;
    for (int i = 0; i < int(m_rows.size()); ++i)
        n += Passes(i) ? 1 : 0;
    return n;
}

QVariant TClientDataSet::RowValue(int row, int field) const { return m_rows.at(row).values.at(field); }

TField TClientDataSet::FieldByName(const QString &name)
{
    const int i = FieldIndex(name);
    if (i < 0)
        throw Exception(QStringLiteral("Campo não encontrado: %1").arg(name));
    return TField(this, i);
}

void TClientDataSet::SetFilter(const QString &filter)
{
    std::vector<std::pair<int, QByteArray>> terms;
    const QString trimmed = filter.trimmed();
    if (!trimmed.isEmpty()) {
        const QStringList parts = trimmed.split(QStringLiteral(" AND "), Qt::SkipEmptyParts, Qt::CaseInsensitive);
        for (const QString &part : parts) {
            const int eq = part.indexOf(QLatin1Char('='));
            const QString name = part.left(eq).trimmed();
            QString value = part.mid(eq + 1).trimmed();
            if (eq < 0 || value.size() < 2 || !value.startsWith(QLatin1Char('\'')) || !value.endsWith(QLatin1Char('\'')))
                throw Exception(QStringLiteral("Filtro não suportado: %1").arg(filter));
            value = value.mid(1, value.size() - 2).replace(QStringLiteral("''"), QStringLiteral("'"));
            const int index = FieldIndex(name);
            if (index < 0)
                throw Exception(QStringLiteral("Campo não encontrado no filtro: %1").arg(name));
            terms.emplace_back(index, value.toUtf8());
        }
    }
    m_filterText = filter;
    m_filterTerms = std::move(terms);
    if (m_filtered && Active()) {
        First();
        NotifyData();
    }
}

void TClientDataSet::SetFiltered(bool on)
{
    if (m_filtered == on)
        return;
    m_filtered = on;
    if (Active()) {
        First();
        NotifyData();
    }
}

int TClientDataSet::ChangeCount() const
{
    int n = int(m_deleted.size());
    for (const Row &row : m_rows)
        n += row.status != RowStatus::Unchanged ? 1 : 0;
    return n;
}

void TClientDataSet::MergeChangeLog()
{
    for (Row &row : m_rows) {
        row.status = RowStatus::Unchanged;
        row.original.reset();
    }
    m_deleted.clear();
}

void TClientDataSet::DisableControls() { ++m_disabled; }

void TClientDataSet::EnableControls()
{
    if (m_disabled > 0 && --m_disabled == 0 && m_pendingNotify) {
        m_pendingNotify = false;
        emit dataChanged();
    }
}

void TClientDataSet::NotifyData()
{
    if (m_disabled > 0) {
        m_pendingNotify = true;
        return;
    }
    emit dataChanged();
}

// ---- packets ----

// One normalised value of a field of this definition.
static void WriteValue(vnd::JsonWriter &w, const TFieldDef &def, const QVariant &v)
{
    if (!v.isValid()) {
        w.Null();
        return;
    }
    switch (def.type) {
    case TFieldType::String:
    case TFieldType::FixedChar:
    case TFieldType::Memo: w.String(v.toByteArray()); break;
    case TFieldType::DateTime: w.String(FormatPacketDateTime(v.toDateTime())); break;
    case TFieldType::Float: w.Number(v.toDouble()); break;
    case TFieldType::Integer: w.Integer(v.toLongLong()); break;
    case TFieldType::Boolean: w.Bool(v.toBool()); break;
    }
}

static void WriteRow(vnd::JsonWriter &w, const std::vector<TFieldDef> &defs, const std::vector<QVariant> &values)
{
    w.BeginArray();
    for (size_t i = 0; i < defs.size(); ++i)
        WriteValue(w, defs[i], values[i]);
    w.EndArray();
}

static void WriteFields(vnd::JsonWriter &w, const std::vector<TFieldDef> &defs)
{
    w.Key("fields");
    w.BeginArray();
    for (const TFieldDef &d : defs) {
        w.BeginObject();
        w.Key("name");
        w.String(d.name);
        w.Key("type");
        w.String(QByteArray(FieldTypeName(d.type)));
        w.Key("size");
        w.Integer(d.size);
        w.EndObject();
    }
    w.EndArray();
}

TDataPacket TClientDataSet::Data() const
{
    vnd::JsonWriter w;
    qsizetype estimate = 64;
    if (!m_rows.empty()) {
        for (const QVariant &v : m_rows.front().values)
            estimate += v.typeId() == QMetaType::QByteArray ? v.toByteArray().size() + 8 : 24;
        estimate *= qsizetype(m_rows.size());
    }
    w.Reserve(estimate + 1024);
    w.BeginObject();
    WriteFields(w, m_defs);
    w.Key("rows");
    w.BeginArray();
    for (const Row &row : m_rows)
        WriteRow(w, m_defs, row.values);
    w.EndArray();
    w.EndObject();
    return TDataPacket{w.Take()};
}

TPacketWriter::TPacketWriter(const std::vector<TFieldDef> &defs, qsizetype reserveBytes) : m_defs(defs)
{
    m_w.Reserve(reserveBytes + 1024);
    m_w.BeginObject();
    WriteFields(m_w, m_defs);
    m_w.Key("rows");
    m_w.BeginArray();
}

void TPacketWriter::AddRow(const std::vector<QVariant> &values)
{
    BeginRow();
    for (const QVariant &value : values)
        Value(value);
    EndRow();
}

void TPacketWriter::BeginRow()
{
    m_w.BeginArray();
    m_column = 0;
}

const TFieldDef &TPacketWriter::NextField()
{
    if (m_column >= m_defs.size())
        throw Exception(QStringLiteral("Linha com mais valores que os %1 campos").arg(m_defs.size()));
    return m_defs[m_column++];
}

void TPacketWriter::Null()
{
    NextField();
    m_w.Null();
}

void TPacketWriter::Text(const char *utf8, qsizetype size)
{
    const TFieldDef &def = m_defs.at(m_column);
    const bool stringLike = def.type == TFieldType::String || def.type == TFieldType::FixedChar || def.type == TFieldType::Memo;
    // A text that a field would cut, or a field of another type, goes the way SetValue takes it.
    if (!stringLike || (def.type != TFieldType::Memo && def.size > 0 && size > def.size)) {
        Value(QByteArray(utf8, size));
        return;
    }
    NextField();
    m_w.String(utf8, size);
}

void TPacketWriter::Value(const QVariant &value)
{
    const TFieldDef &def = NextField();
    WriteValue(m_w, def, NormaliseValue(def, value));
}

void TPacketWriter::EndRow()
{
    if (m_column != m_defs.size())
        throw Exception(QStringLiteral("Linha com %1 valores para %2 campos").arg(m_column).arg(m_defs.size()));
    m_w.EndArray();
    ++m_rows;
}

TDataPacket TPacketWriter::Finish()
{
    m_w.EndArray();
    m_w.EndObject();
    return TDataPacket{m_w.Take()};
}

TDataPacket TClientDataSet::Delta() const
{
    vnd::JsonWriter w;
    w.BeginObject();
    WriteFields(w, m_defs);
    std::vector<const std::vector<QVariant> *> rows, originals;
    std::vector<const char *> states;
    for (const Row &row : m_rows) {
        if (row.status == RowStatus::Unchanged)
            continue;
        rows.push_back(&row.values);
        originals.push_back(row.status == RowStatus::Modified ? row.original.get() : nullptr);
        states.push_back(row.status == RowStatus::Modified ? "modified" : "inserted");
    }
    for (const auto &values : m_deleted) {
        rows.push_back(&values);
        originals.push_back(nullptr);
        states.push_back("deleted");
    }
    w.Key("rows");
    w.BeginArray();
    for (const auto *values : rows)
        WriteRow(w, m_defs, *values);
    w.EndArray();
    w.Key("rowstate");
    w.BeginArray();
    for (const char *s : states)
        w.String(QByteArray(s));
    w.EndArray();
    w.Key("original");
    w.BeginArray();
    for (const auto *values : originals) {
        if (values)
            WriteRow(w, m_defs, *values);
        else
            w.Null();
    }
    w.EndArray();
    w.EndObject();
    return TDataPacket{w.Take()};
}

QStringList TClientDataSet::DeltaRowStates(const TDataPacket &delta)
{
    QStringList states;
    if (delta.json.isEmpty())
        return states;
    vnd::JsonReader r(delta.json);
    r.ExpectObjectBegin();
    QByteArray key;
    while (r.NextKey(key)) {
        if (key != "rowstate") {
            r.ReadRaw();
            continue;
        }
        r.ExpectArrayBegin();
        while (r.NextElement())
            states << QString::fromUtf8(r.ReadString());
    }
    return states;
}

void TClientDataSet::SetData(const TDataPacket &packet)
{
    if (m_state == TDataSetState::Edit || m_state == TDataSetState::Insert)
        Cancel();
    m_rows.clear();
    m_deleted.clear();
    ReadRows(packet.json, false);
    if (m_state == TDataSetState::Inactive) {
        m_state = TDataSetState::Browse;
        emit stateChanged();
    }
    m_current = -1;
    Seek(0, +1);
    m_bof = true;
    NotifyData();
}

void TClientDataSet::AppendData(const TDataPacket &packet)
{
    CheckActive();
    Post();
    const bool wasEmpty = m_rows.empty();
    ReadRows(packet.json, true);
    if (wasEmpty) {
        m_current = -1;
        Seek(0, +1);
        m_bof = true;
    }
    NotifyData();
}

void TClientDataSet::ReadRows(const QByteArray &json, bool appendAsInserted)
{
    if (json.isEmpty())
        throw Exception(QStringLiteral("Pacote de dados vazio"));
    vnd::JsonReader r(json);
    r.ExpectObjectBegin();
    std::vector<int> map; // packet column -> field index (-1 ignored)
    std::vector<TFieldDef> packetDefs;
    bool haveFields = false;
    QByteArray key;
    while (r.NextKey(key)) {
        if (key == "fields") {
            r.ExpectArrayBegin();
            while (r.NextElement()) {
                TFieldDef def;
                r.ExpectObjectBegin();
                QByteArray k;
                while (r.NextKey(k)) {
                    if (k == "name")
                        def.name = QString::fromUtf8(r.ReadString());
                    else if (k == "type")
                        def.type = FieldTypeFromName(r.ReadString());
                    else if (k == "size")
                        def.size = int(r.ReadInteger());
                    else
                        r.ReadRaw();
                }
                packetDefs.push_back(def);
            }
            if (m_defs.empty()) {
                for (const TFieldDef &d : packetDefs)
                    AddField(d);
            }
            for (const TFieldDef &d : packetDefs)
                map.push_back(FieldIndex(d.name));
            haveFields = true;
        } else if (key == "rows") {
            if (!haveFields)
                r.Fail("\"fields\" deve vir antes de \"rows\"");
            r.ExpectArrayBegin();
            while (r.NextElement()) {
                Row row;
                row.values.assign(m_defs.size(), QVariant());
                row.status = appendAsInserted ? RowStatus::Inserted : RowStatus::Unchanged;
                r.ExpectArrayBegin();
                size_t col = 0;
                while (r.NextElement()) {
                    if (col >= map.size())
                        r.Fail("linha com mais colunas que campos");
                    const int field = map[col];
                    const TFieldType ptype = packetDefs[col].type;
                    ++col;
                    if (r.ReadNullIf())
                        continue;
                    QVariant v;
                    switch (ptype) {
                    case TFieldType::String:
                    case TFieldType::FixedChar:
                    case TFieldType::Memo:
                    case TFieldType::DateTime: v = r.ReadString(); break;
                    case TFieldType::Float: v = r.ReadNumber(); break;
                    case TFieldType::Integer: v = r.ReadInteger(); break;
                    case TFieldType::Boolean: v = r.ReadBool(); break;
                    }
                    if (field < 0)
                        continue;
                    const TFieldType ftype = m_defs[field].type;
                    if (ptype == TFieldType::DateTime && ftype == TFieldType::DateTime) {
                        const QDateTime dt = ParsePacketDateTime(v.toByteArray());
                        if (!dt.isValid())
                            r.Fail("data-hora inválida");
                        row.values[field] = dt;
                    } else if ((ftype == TFieldType::String || ftype == TFieldType::FixedChar ||
                                ftype == TFieldType::Memo) &&
                               v.typeId() == QMetaType::QByteArray) {
                        const QByteArray bytes = v.toByteArray();
                        if (ftype == TFieldType::Memo || m_defs[field].size <= 0 || bytes.size() <= m_defs[field].size)
                            row.values[field] = std::move(v);
                        else
                            row.values[field] = Normalise(field, bytes);
                    } else {
                        row.values[field] = Normalise(field, v);
                    }
                }
                m_rows.push_back(std::move(row));
            }
        } else {
            r.ReadRaw();
        }
    }
}
