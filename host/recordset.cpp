#include "host/recordset.h"

#include "host/errors.h"
#include "host/hostutil.h"
#include "host/recordsetvalues.h"

using namespace vnd::recordset;

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
    m_pool.Clear();
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
    m_pool.Clear();
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
    m_pool.Clear();
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

QVariant TClientDataSet::CurrentValue(int field) const
{
    if (m_state == TDataSetState::Edit || m_state == TDataSetState::Insert)
        return m_buffer.at(size_t(field));
    if (m_current < 0 || m_current >= int(m_rows.size()))
        return {}; // no current row: every field reads as null
    return m_rows[m_current].values.At(size_t(field), &m_pool);
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
    m_buffer = m_rows[m_current].values.Unpack(m_defs.size(), &m_pool);
    m_state = TDataSetState::Edit;
    emit stateChanged();
}

void TClientDataSet::Post()
{
    if (m_state == TDataSetState::Insert) {
        Row row;
        row.values = PackedRow(m_buffer, &m_pool);
        row.status = RowStatus::Inserted;
        m_rows.insert(m_rows.begin() + m_insertAt, std::move(row));
        m_current = m_insertAt;
        m_eof = m_bof = false;
    } else if (m_state == TDataSetState::Edit) {
        Row &row = m_rows[m_current];
        // Compared as values: a text may be pooled in one packing and not in another.
        if (row.values.Unpack(m_defs.size(), &m_pool) != m_buffer) {
            PackedRow edited(m_buffer, &m_pool);
            if (row.status == RowStatus::Unchanged) {
                row.original = std::move(row.values);
                row.status = RowStatus::Modified;
            }
            row.values = std::move(edited);
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
        m_deleted.push_back(std::move(row.original));
    else if (row.status == RowStatus::Unchanged)
        m_deleted.push_back(std::move(row.values));
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
    const PackedRow &values = m_rows[row].values;
    for (const auto &[field, wanted] : m_filterTerms)
        if (values.At(size_t(field), &m_pool).toByteArray() != wanted)
            return false;
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

QVariant TClientDataSet::RowValue(int row, int field) const
{
    if (field < 0 || size_t(field) >= m_defs.size())
        throw Exception(QStringLiteral("Campo %1 fora da tabela").arg(field));
    return m_rows.at(size_t(row)).values.At(size_t(field), &m_pool);
}

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
        row.original = PackedRow();
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

