#include "server/notas.h"

#include "host/errors.h"

#include <QDateTime>
#include <QHash>
#include <QSet>

#include <algorithm>
#include <mutex>
#include <sqlite3.h>


namespace vnd::server {

namespace {

struct Column
{
    const char *name;
    TFieldType type;
    int size;
};

// IDCHECK is the screen's tick mark, not a column; the rest are VENDA's columns of the same names.
const Column kColumns[] = {
    {"IDCHECK", TFieldType::FixedChar, 1},        {"CDFILIAL", TFieldType::String, 4},
    {"CDCAIXA", TFieldType::String, 3},           {"CDLOJA", TFieldType::String, 10},
    {"NRSEQVENDA", TFieldType::String, 10},       {"DSARQXMLNFCE", TFieldType::Memo, 0},
    {"DTENTRVENDA", TFieldType::DateTime, 0},     {"NRACESSONFCE", TFieldType::String, 50},
    {"CDSERIE", TFieldType::String, 10},          {"IDTPEMISVEND", TFieldType::String, 1},
    {"NRNOTAFISCALCE", TFieldType::String, 9},    {"IDSITUVENDA", TFieldType::String, 1},
    {"NRPROTOCOLONFCE", TFieldType::String, 100}, {"DTHRPROTOCONFCE", TFieldType::DateTime, 0},
    {"IDTPAMBNFCE", TFieldType::String, 5},       {"IDSTATUSNFCE", TFieldType::String, 1},
    {"NRINSJURIEST", TFieldType::String, 20},     {"DSRAZAOCANCNFCE", TFieldType::String, 250},
    {"DTHRPROTOCOCANC", TFieldType::DateTime, 0}, {"NRPROTOCOLOCANC", TFieldType::String, 15},
    {"NRCERTDIGNFCE", TFieldType::String, 50},    {"DSARQXMLCANCNFCE", TFieldType::Memo, 0},
    {"WSSITEUFQRCODENFC", TFieldType::String, 255}, {"DSQRCODENFCE", TFieldType::String, 1024},
    {"CDVERSAOXMLNFCE", TFieldType::String, 10},  {"IDORIGEMVENDA", TFieldType::String, 10},
    {"CDCLIENTE", TFieldType::String, 21},        {"VRTOTVENDA", TFieldType::Float, 0},
};
constexpr int kColumnCount = int(sizeof kColumns / sizeof kColumns[0]);

const char *kOrder = " ORDER BY V.CDFILIAL, V.CDCAIXA, V.DTENTRVENDA, V.NRSEQVENDA, V.IDVENDA";
// The same columns, none of them ever NULL, as one value compared in the order of kOrder.
const char *kOrderKey = "(V.CDFILIAL, V.CDCAIXA, V.DTENTRVENDA, V.NRSEQVENDA, V.IDVENDA)";
constexpr int kOrderKeyColumns = 5;

// Where the next page of a listing starts. A page numbered by OFFSET costs the sort of every sale the
// filter matches, page after page: a million sales listed 500 at a time would sort them 2 000 times.
// After each full page on SQLite, the order key of its last row is kept under the filter and the number
// of the row that follows; the page that starts there is read from the index onwards (keyset), in time
// of its own size. A listing that starts again (first row 0) is numbered afresh and keeps its own keys.
// Between two pages, sales stored or removed before the key no longer shift the pages (OFFSET would
// repeat or skip rows then): the list goes on after the last row it handed out.
class PageCursors
{
public:
    static PageCursors &Instance()
    {
        static PageCursors cursors;
        return cursors;
    }
    QVariantList Find(const QString &filter, qint64 next)
    {
        std::lock_guard lock(m_mutex);
        const auto it = m_keys.constFind(Name(filter, next));
        if (it == m_keys.constEnd() || it->kept.secsTo(QDateTime::currentDateTimeUtc()) > kKeptSeconds)
            return {};
        return it->key;
    }
    void Keep(const QString &filter, qint64 next, const QVariantList &key)
    {
        std::lock_guard lock(m_mutex);
        const QDateTime now = QDateTime::currentDateTimeUtc();
        if (m_keys.size() >= kMaxKeys) {
            for (auto it = m_keys.begin(); it != m_keys.end();)
                it = it->kept.secsTo(now) > kKeptSeconds ? m_keys.erase(it) : std::next(it);
            if (m_keys.size() >= kMaxKeys)
                m_keys.clear();
        }
        m_keys.insert(Name(filter, next), Entry{key, now});
    }

private:
    static constexpr int kMaxKeys = 1024;
    static constexpr qint64 kKeptSeconds = 30 * 60;
    struct Entry
    {
        QVariantList key;
        QDateTime kept;
    };
    static QString Name(const QString &filter, qint64 next) { return filter + QLatin1Char('\x1f') + QString::number(next); }
    std::mutex m_mutex;
    QHash<QString, Entry> m_keys;
};

// The filter as a text that tells two filters apart: database, conditions and bound values.
QString FilterName(const ServerDb &db, const SaleFilter &filter, bool withDocuments)
{
    QString conditions;
    QVariantList binds;
    AppendConditions(filter, db, conditions, binds);
    QString name = db.Url() + QLatin1Char('\x1f') + conditions + (withDocuments ? QStringLiteral("\x1fD") : QString());
    for (const QVariant &v : binds)
        name += QLatin1Char('\x1f') + QString::fromLatin1(v.typeName()) + QLatin1Char(':') + v.toString();
    return name;
}

// SELECT list of every column but IDCHECK; the documents are replaced by NULL when not wanted.
QString SelectList(const ServerDb &db, bool withDocuments)
{
    QString list;
    for (int i = 1; i < kColumnCount; ++i) {
        const QString column = QStringLiteral("V.") + QLatin1String(kColumns[i].name);
        QString expr = column;
        if (kColumns[i].type == TFieldType::DateTime)
            expr = db.DateTimeColumn(column);
        else if (kColumns[i].type == TFieldType::Memo && !withDocuments)
            expr = QStringLiteral("NULL");
        else if (kColumns[i].type == TFieldType::Memo && db.dialect() == Dialect::SQLite)
            // The document's own UTF-8 bytes, which the record set keeps: read as text, SQLite would
            // convert it to UTF-16 and the record set back again.
            expr = QStringLiteral("CAST(%1 AS BLOB)").arg(column);
        list += (list.isEmpty() ? QString() : QStringLiteral(", ")) + expr;
    }
    return QStringLiteral("SELECT ") + list + QStringLiteral(" FROM VENDA V");
}

void Prepare(TClientDataSet &out)
{
    if (out.FieldCount() == 0)
        DefineNotasFields(out);
    if (!out.Active())
        out.CreateDataSet();
}

// Appends one row from its selected values (every column but IDCHECK, in order).
template <typename Value> void AppendRow(const Value &value, TClientDataSet &out)
{
    static const QByteArray no("N");
    out.Append();
    out.Fields(0).SetAsBytes(no);
    for (int i = 1; i < kColumnCount; ++i) {
        const QVariant v = value(i - 1);
        if (v.isNull())
            continue;
        out.Fields(i).SetValue(v);
    }
    out.Post();
}

// A selected value of column c (of kColumns) as the record set takes it.
QVariant ReadValue(const QVariant &v, int c)
{
    if (kColumns[c].type == TFieldType::DateTime && !v.isNull())
        return ServerDb::ReadDateTime(v);
    return v;
}

void ReadRows(QSqlQuery &q, TClientDataSet &out)
{
    Prepare(out);
    out.DisableControls();
    while (q.next())
        AppendRow([&q](int c) { return ReadValue(q.value(c), c + 1); }, out);
    out.MergeChangeLog();
    out.EnableControls();
}

// The statement of a page: its number in the page order (N, from first + 1) and every column but IDCHECK.
// With after (an order key, kOrderKeyColumns values), the page is the rows that follow that key, numbered
// from first + 1; else the rows first..last of the order. The columns of the order key come last.
void PageQuery(const ServerDb &db, const SaleFilter &filter, qint64 first, qint64 last, QString &sql, QVariantList &binds,
               bool withDocuments = true, const QVariantList &after = {})
{
    // The page is chosen and numbered on the short columns alone, then joined to its rows: sorting whole
    // rows would drag every matching sale's documents through the sorter just to skip to the page.
    QString page;
    if (after.size() == kOrderKeyColumns) {
        // Limited first, numbered after: a window over the unlimited rows would number all of them.
        page = QStringLiteral("SELECT ID, ? + ROW_NUMBER() OVER (ORDER BY K1, K2, K3, K4, ID) AS N FROM (SELECT V.IDVENDA AS ID, "
                              "V.CDFILIAL AS K1, V.CDCAIXA AS K2, V.DTENTRVENDA AS K3, V.NRSEQVENDA AS K4 FROM VENDA V%1 "
                              "WHERE 1 = 1")
                   // SQLite would rather take the period's index and sort all of it; the order's index
                   // starts at the key and stops after the page.
                   .arg(db.dialect() == Dialect::SQLite ? QStringLiteral(" INDEXED BY VENDA_ORDEM") : QString());
        binds << first;
        AppendConditions(filter, db, page, binds);
        page += QStringLiteral(" AND %1 > (?, ?, ?, ?, ?)").arg(QLatin1String(kOrderKey)) + QLatin1String(kOrder) +
                QStringLiteral(" LIMIT ?) Q");
        binds << after << (last - first + 1);
    } else {
        page = QStringLiteral("SELECT V.IDVENDA AS ID, ROW_NUMBER() OVER (%1) AS N FROM VENDA V WHERE 1 = 1")
                   .arg(QLatin1String(kOrder).trimmed());
        AppendConditions(filter, db, page, binds);
        page += QLatin1String(kOrder) + QStringLiteral(" LIMIT ? OFFSET ?");
        binds << (last - first + 1) << first;
    }
    // SQLite keeps the left side of a CROSS JOIN outside: the rows then come in the page's order.
    const QString join = db.dialect() == Dialect::SQLite ? QStringLiteral("CROSS JOIN") : QStringLiteral("JOIN");
    sql = SelectList(db, withDocuments)
              .replace(QStringLiteral("SELECT "), QStringLiteral("SELECT P.N, "))
              .replace(QStringLiteral(" FROM VENDA V"),
                       QStringLiteral(", %1 FROM (%2) P %3 VENDA V ON V.IDVENDA = P.ID")
                           .arg(QLatin1String(kOrderKey).mid(1, int(qstrlen(kOrderKey)) - 2), page, join));
}

// The page written from SQLite's own values as they come; false (and the writer spoilt) when a row comes
// out of the page's order, which the caller then takes the general way.
bool WriteSqlitePage(const ServerDb &db, const SaleFilter &filter, qint64 first, qint64 last, bool withDocuments,
                     TPacketWriter &packet)
{
    const QString name = FilterName(db, filter, withDocuments);
    const QVariantList after = first > 0 ? PageCursors::Instance().Find(name, first) : QVariantList();
    QString sql;
    QVariantList binds;
    PageQuery(db, filter, first, last, sql, binds, withDocuments, after);
    qint64 expected = first + 1;
    bool inOrder = true;
    QVariantList lastKey;
    db.ForEachSqliteRow(sql, binds, "ler as vendas", [&](sqlite3_stmt *row) {
        if (sqlite3_column_int64(row, 0) != expected++) {
            inOrder = false;
            return false;
        }
        lastKey.clear();
        for (int c = kColumnCount; c < kColumnCount + kOrderKeyColumns; ++c) {
            switch (sqlite3_column_type(row, c)) {
            case SQLITE_INTEGER: lastKey << qint64(sqlite3_column_int64(row, c)); break;
            case SQLITE_FLOAT: lastKey << sqlite3_column_double(row, c); break;
            case SQLITE_TEXT:
                lastKey << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(row, c)),
                                             sqlite3_column_bytes(row, c));
                break;
            default: break; // (never NULL by the schema; a blob key is not kept)
            }
        }
        packet.BeginRow();
        packet.Text("N", 1);
        for (int c = 1; c < kColumnCount; ++c) {
            switch (sqlite3_column_type(row, c)) {
            case SQLITE_NULL: packet.Null(); break;
            case SQLITE_INTEGER: packet.Value(qint64(sqlite3_column_int64(row, c))); break;
            case SQLITE_FLOAT: packet.Value(sqlite3_column_double(row, c)); break;
            default: {
                // Text or blob: the engine's bytes, read where it keeps them.
                const char *bytes = static_cast<const char *>(sqlite3_column_blob(row, c));
                const qsizetype size = sqlite3_column_bytes(row, c);
                if (kColumns[c].type == TFieldType::DateTime)
                    packet.Value(ReadValue(QString::fromUtf8(bytes, size), c));
                else
                    packet.Text(bytes, size);
            }
            }
        }
        packet.EndRow();
        return true;
    });
    // A full page: the next one starts after its last row.
    if (inOrder && expected == last + 2 && lastKey.size() == kOrderKeyColumns)
        PageCursors::Instance().Keep(name, last + 1, lastKey);
    return inOrder;
}

// The page's rows in order: per row, the value of every column but IDCHECK as the engine gives it, with
// the date-times read.
std::vector<std::vector<QVariant>> ReadPage(const ServerDb &db, const SaleFilter &filter, qint64 first, qint64 last,
                                            bool withDocuments = true)
{
    if (first < 0)
        throw Exception(QStringLiteral("Primeira linha da página inválida: %1.").arg(first));
    if (last < first)
        return {};
    QString sql;
    QVariantList binds;
    PageQuery(db, filter, first, last, sql, binds, withDocuments);
    std::vector<std::vector<QVariant>> rows;
    QSqlQuery q = db.Exec(sql, binds, "ler as vendas");
    while (q.next()) {
        const qint64 at = q.value(0).toLongLong() - 1 - first;
        if (at < 0 || at > last - first)
            throw Exception(QStringLiteral("Numeração inesperada da página de vendas: linha %1.").arg(at + first));
        if (size_t(at) >= rows.size())
            rows.resize(size_t(at) + 1);
        std::vector<QVariant> &row = rows[size_t(at)];
        row.reserve(kColumnCount - 1);
        for (int c = 1; c < kColumnCount; ++c)
            row.push_back(ReadValue(q.value(c), c));
    }
    // Only a sale removed while the page was read could leave a place empty.
    rows.erase(std::remove_if(rows.begin(), rows.end(), [](const auto &row) { return row.empty(); }), rows.end());
    return rows;
}

} // namespace

void DefineNotasFields(TClientDataSet &cds)
{
    for (const Column &c : kColumns)
        cds.AddField(QString::fromLatin1(c.name), c.type, c.size);
}

void QueryNotasPage(const ServerDb &db, const SaleFilter &filter, qint64 first, qint64 last, TClientDataSet &out)
{
    const std::vector<std::vector<QVariant>> rows = ReadPage(db, filter, first, last);
    Prepare(out);
    out.DisableControls();
    for (const std::vector<QVariant> &row : rows)
        AppendRow([&row](int c) { return row[size_t(c)]; }, out);
    out.MergeChangeLog();
    out.EnableControls();
}

TDataPacket NotasPagePacket(const ServerDb &db, const SaleFilter &filter, qint64 first, qint64 last, int &rowCount,
                            bool withDocuments)
{
    static const std::vector<TFieldDef> defs = [] {
        TClientDataSet shape;
        DefineNotasFields(shape);
        return shape.FieldDefs();
    }();
    if (db.dialect() == Dialect::SQLite && first >= 0 && last >= first) {
        TPacketWriter packet(defs, std::min<qint64>(last - first + 1, 1000) * (withDocuments ? 8 * 1024 : 1024));
        if (WriteSqlitePage(db, filter, first, last, withDocuments, packet)) {
            rowCount = packet.RowCount();
            return packet.Finish();
        }
    }
    const std::vector<std::vector<QVariant>> rows = ReadPage(db, filter, first, last, withDocuments);
    qsizetype bytes = 0;
    for (const std::vector<QVariant> &row : rows)
        for (const QVariant &v : row)
            bytes += (v.typeId() == QMetaType::QByteArray ? v.toByteArray().size() * 9 / 8 : 0) + 24;
    TPacketWriter packet(defs, bytes);
    std::vector<QVariant> values(kColumnCount);
    values[0] = QByteArray("N");
    for (const std::vector<QVariant> &row : rows) {
        std::copy(row.begin(), row.end(), values.begin() + 1);
        packet.AddRow(values);
    }
    rowCount = packet.RowCount();
    return packet.Finish();
}

void QueryNotasPendingRejected(const ServerDb &db, const SaleFilter &filter, TClientDataSet &out)
{
    SaleFilter pending = filter;
    pending.pendingOrRejected = true;
    QString sql = SelectList(db, false) + QStringLiteral(" WHERE 1 = 1");
    QVariantList binds;
    AppendConditions(pending, db, sql, binds);
    sql += QLatin1String(kOrder);
    QSqlQuery q = db.Exec(sql, binds, "ler as NFC-e pendentes e rejeitadas");
    ReadRows(q, out);
}

void QueryNotasByKeys(const ServerDb &db, const QStringList &keys, TClientDataSet &out, bool withDocuments)
{
    QStringList unique = keys;
    unique.removeDuplicates();
    if (out.FieldCount() == 0)
        DefineNotasFields(out);
    out.CreateDataSet();
    if (unique.isEmpty())
        return;
    // Chunks keep each statement under the databases' limits on bound values; each chunk comes in the
    // stable order, which is all the file assembly needs (every sale is a file of its own).
    QSet<QString> found;
    const int chunk = 400;
    TClientDataSet rows;
    DefineNotasFields(rows);
    rows.CreateDataSet();
    for (int start = 0; start < unique.size(); start += chunk) {
        QString marks;
        QVariantList binds;
        for (int i = start; i < std::min<int>(start + chunk, int(unique.size())); ++i) {
            marks += marks.isEmpty() ? QStringLiteral("?") : QStringLiteral(", ?");
            binds << unique[i];
        }
        QSqlQuery q = db.Exec(SelectList(db, withDocuments) + QStringLiteral(" WHERE V.NRACESSONFCE IN (%1)").arg(marks) +
                                  QLatin1String(kOrder),
                              binds, "ler as vendas marcadas");
        ReadRows(q, rows);
    }
    for (rows.First(); !rows.Eof(); rows.Next())
        found.insert(rows.FieldByName(QStringLiteral("NRACESSONFCE")).AsString());
    for (const QString &key : unique) {
        if (!found.contains(key))
            throw Exception(QStringLiteral("Venda não encontrada no servidor: chave de acesso %1.").arg(key));
    }
    out.SetData(rows.Data());
}

TDataPacket QueryDocumentosNotas(const ServerDb &db, const QStringList &keys)
{
    static const std::vector<TFieldDef> defs = [] {
        TClientDataSet shape;
        shape.AddField(QStringLiteral("NRACESSONFCE"), TFieldType::String, 50);
        shape.AddField(QStringLiteral("DSARQXMLNFCE"), TFieldType::Memo);
        shape.AddField(QStringLiteral("DSARQXMLCANCNFCE"), TFieldType::Memo);
        return shape.FieldDefs();
    }();
    QStringList unique = keys;
    unique.removeDuplicates();
    if (unique.size() > kMaxDocumentKeys)
        throw Exception(QStringLiteral("Chaves de acesso demais em uma chamada: %1 (o máximo é %2).")
                            .arg(unique.size())
                            .arg(kMaxDocumentKeys));
    TPacketWriter packet(defs, qsizetype(unique.size()) * 8 * 1024 + 256);
    if (unique.isEmpty())
        return packet.Finish();
    QString marks;
    QVariantList binds;
    for (const QString &key : unique) {
        marks += marks.isEmpty() ? QStringLiteral("?") : QStringLiteral(", ?");
        binds << key;
    }
    // As in the page: SQLite hands the document's own UTF-8 bytes when asked for a blob.
    const bool sqlite = db.dialect() == Dialect::SQLite;
    const QString document = sqlite ? QStringLiteral("CAST(V.DSARQXMLNFCE AS BLOB)") : QStringLiteral("V.DSARQXMLNFCE");
    const QString cancel = sqlite ? QStringLiteral("CAST(V.DSARQXMLCANCNFCE AS BLOB)") : QStringLiteral("V.DSARQXMLCANCNFCE");
    QSqlQuery q = db.Exec(QStringLiteral("SELECT V.NRACESSONFCE, %1, %2 FROM VENDA V WHERE V.NRACESSONFCE IN (%3)")
                                  .arg(document, cancel, marks) +
                              QLatin1String(kOrder),
                          binds, "ler os documentos das vendas");
    QSet<QString> found;
    std::vector<QVariant> row(3);
    while (q.next()) {
        for (int c = 0; c < 3; ++c)
            row[size_t(c)] = q.value(c);
        found.insert(row[0].toString());
        packet.AddRow(row);
    }
    for (const QString &key : unique)
        if (!found.contains(key))
            throw Exception(QStringLiteral("Venda não encontrada no servidor: chave de acesso %1.").arg(key));
    return packet.Finish();
}

} // namespace vnd::server
