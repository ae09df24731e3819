// The data packets of the record set: the JSON text that carries a table, or its changes, to and from
// the application server.
#include "host/errors.h"
#include "host/hostutil.h"
#include "host/recordset.h"
#include "host/recordsetvalues.h"

using namespace vnd::recordset;

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

// A packed row written straight from its block: its texts are not copied on the way.
struct RowWriter final : PackedRow::Visitor
{
    vnd::JsonWriter &w;
    const std::vector<TFieldDef> &defs;
    const TextPool &pool;
    RowWriter(vnd::JsonWriter &writer, const std::vector<TFieldDef> &d, const TextPool &p) : w(writer), defs(d), pool(p) {}
    void Text(size_t field, const char *utf8, qsizetype size) override
    {
        const TFieldType t = defs[field].type;
        if (t == TFieldType::String || t == TFieldType::FixedChar || t == TFieldType::Memo)
            w.String(utf8, size);
        else
            WriteValue(w, defs[field], QByteArray(utf8, size));
    }
    void Value(size_t field, const QVariant &value) override { WriteValue(w, defs[field], value); }
    void Write(const PackedRow &row)
    {
        w.BeginArray();
        row.Visit(defs.size(), *this, &pool);
        w.EndArray();
    }
};

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
    std::vector<QVariant> values;
    if (!m_rows.empty()) {
        m_rows.front().values.Unpack(values, m_defs.size(), &m_pool);
        for (const QVariant &v : values)
            estimate += v.typeId() == QMetaType::QByteArray ? v.toByteArray().size() + 8 : 24;
        estimate *= qsizetype(m_rows.size());
    }
    w.Reserve(estimate + 1024);
    w.BeginObject();
    WriteFields(w, m_defs);
    w.Key("rows");
    w.BeginArray();
    RowWriter rows(w, m_defs, m_pool);
    for (const Row &row : m_rows)
        rows.Write(row.values);
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
    std::vector<const PackedRow *> rows, originals;
    std::vector<const char *> states;
    for (const Row &row : m_rows) {
        if (row.status == RowStatus::Unchanged)
            continue;
        rows.push_back(&row.values);
        originals.push_back(row.status == RowStatus::Modified ? &row.original : nullptr);
        states.push_back(row.status == RowStatus::Modified ? "modified" : "inserted");
    }
    for (const auto &values : m_deleted) {
        rows.push_back(&values);
        originals.push_back(nullptr);
        states.push_back("deleted");
    }
    w.Key("rows");
    w.BeginArray();
    RowWriter writer(w, m_defs, m_pool);
    for (const PackedRow *row : rows)
        writer.Write(*row);
    w.EndArray();
    w.Key("rowstate");
    w.BeginArray();
    for (const char *s : states)
        w.String(QByteArray(s));
    w.EndArray();
    w.Key("original");
    w.BeginArray();
    for (const PackedRow *row : originals) {
        if (row)
            writer.Write(*row);
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
    m_pool.Clear();
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
            std::vector<QVariant> values;
            while (r.NextElement()) {
                Row row;
                values.assign(m_defs.size(), QVariant());
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
                        values[field] = dt;
                    } else if ((ftype == TFieldType::String || ftype == TFieldType::FixedChar ||
                                ftype == TFieldType::Memo) &&
                               v.typeId() == QMetaType::QByteArray) {
                        const QByteArray bytes = v.toByteArray();
                        if (ftype == TFieldType::Memo || m_defs[field].size <= 0 || bytes.size() <= m_defs[field].size)
                            values[field] = std::move(v);
                        else
                            values[field] = Normalise(field, bytes);
                    } else {
                        values[field] = Normalise(field, v);
                    }
                }
                row.values = PackedRow(values, &m_pool);
                m_rows.push_back(std::move(row));
            }
        } else {
            r.ReadRaw();
        }
    }
}
