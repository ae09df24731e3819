#include "host/query.h"

#include "host/errors.h"

#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUrl>
#include <QUuid>

namespace vnd {

QSqlDatabase OpenDatabaseUrl(const QString &url, const QString &connectionName)
{
    if (QSqlDatabase::contains(connectionName))
        QSqlDatabase::removeDatabase(connectionName);
    QSqlDatabase db;
    if (url.startsWith(QLatin1String("sqlite:"))) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(url.mid(7));
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else if (url.startsWith(QLatin1String("postgresql://")) || url.startsWith(QLatin1String("postgres://"))) {
        const QUrl u(url);
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName);
        db.setHostName(u.host());
        db.setPort(u.port(5432));
        db.setUserName(u.userName());
        db.setPassword(u.password());
        db.setDatabaseName(u.path().mid(1));
    } else {
        throw Exception(QStringLiteral("Endereço de banco de dados não suportado: %1").arg(url));
    }
    if (!db.open())
        throw Exception(QStringLiteral("Não foi possível abrir o banco de dados %1: %2").arg(url, db.lastError().text()));
    QSqlQuery q(db);
    if (db.driverName() == QLatin1String("QSQLITE")) {
        q.exec(QStringLiteral("PRAGMA journal_mode=WAL"));
        q.exec(QStringLiteral("PRAGMA foreign_keys=ON"));
    }
    return db;
}

void OpenHostDatabase(const QString &url)
{
    QSqlDatabase db = OpenDatabaseUrl(url, QString::fromLatin1(kHostConnection));
    if (db.driverName() == QLatin1String("QPSQL")) {
        QSqlQuery q(db);
        // The generic texts use INSTR(haystack, needle) as Oracle and SQLite have it.
        q.exec(QStringLiteral("CREATE OR REPLACE FUNCTION INSTR(text, text) RETURNS integer "
                              "LANGUAGE sql IMMUTABLE AS 'SELECT strpos($1, $2)'"));
    }
}

QSqlDatabase HostDatabase() { return QSqlDatabase::database(QString::fromLatin1(kHostConnection)); }

} // namespace vnd

TADOIBQuery::TADOIBQuery(QObject *parent) : TClientDataSet(parent) {}

QString TADOIBQuery::DialectText() const
{
    // Our two engines, SQLite and PostgreSQL, both run the generic text.
    return SQL.join(QLatin1Char('\n'));
}

namespace {
// Splits ":NAME" parameters out of a text, outside quoted literals. Returns the text with "?" in their
// place and the names in order (a name used twice appears twice).
QString Positional(const QString &text, QStringList &names)
{
    QString out;
    out.reserve(text.size());
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == QLatin1Char('\'')) {
            quoted = !quoted;
            out += c;
            continue;
        }
        if (!quoted && c == QLatin1Char(':') && i + 1 < text.size() &&
            (text[i + 1].isLetter() || text[i + 1] == QLatin1Char('_'))) {
            int j = i + 1;
            while (j < text.size() && (text[j].isLetterOrNumber() || text[j] == QLatin1Char('_')))
                ++j;
            names << text.mid(i + 1, j - i - 1).toUpper();
            out += QLatin1Char('?');
            i = j - 1;
            continue;
        }
        out += c;
    }
    return out;
}
} // namespace

QStringList TADOIBQuery::ParamNames() const
{
    QStringList names;
    Positional(DialectText(), names);
    names.removeDuplicates();
    return names;
}

void TADOIBQuery::Param::SetValue(const QVariant &v)
{
    if (!m_q->ParamNames().contains(m_name.toUpper()))
        throw Exception(QStringLiteral("Parâmetro não encontrado: %1").arg(m_name));
    m_q->m_params.insert(m_name.toUpper(), v);
}

QVariant TADOIBQuery::Param::Value() const { return m_q->m_params.value(m_name.toUpper()); }

TADOIBQuery::Param TADOIBQuery::ParamByName(const QString &name) { return Param(this, name); }

void TADOIBQuery::Open()
{
    QSqlDatabase db = vnd::HostDatabase();
    if (!db.isOpen())
        throw Exception(QStringLiteral("A conexão com o banco de dados da retaguarda não está aberta."));
    QStringList names;
    const QString text = Positional(DialectText(), names);
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.prepare(text))
        throw Exception(QStringLiteral("Erro na consulta: %1").arg(q.lastError().text()));
    for (int i = 0; i < names.size(); ++i) {
        QVariant v = m_params.value(names[i]);
        // An unset or empty text parameter is bound as an empty text, never as NULL, so that
        // comparisons such as (:P_TCDFILIAL = 'T') stay false instead of unknown.
        if (!v.isValid())
            v = QString();
        if (v.typeId() == QMetaType::QString && v.toString().isNull())
            v = QString::fromLatin1("");
        q.bindValue(i, v);
    }
    if (!q.exec())
        throw Exception(QStringLiteral("Erro na consulta: %1").arg(q.lastError().text()));

    const QSqlRecord rec = q.record();
    if (FieldDefs().empty()) {
        for (int c = 0; c < rec.count(); ++c) {
            const QMetaType::Type t = QMetaType::Type(rec.field(c).metaType().id());
            TFieldType ft = TFieldType::String;
            if (t == QMetaType::Double)
                ft = TFieldType::Float;
            else if (t == QMetaType::Int || t == QMetaType::LongLong)
                ft = TFieldType::Integer;
            else if (t == QMetaType::QDateTime || t == QMetaType::QDate)
                ft = TFieldType::DateTime;
            AddField(rec.fieldName(c).toUpper(), ft, 0);
        }
    }
    std::vector<int> columns; // field -> column
    for (const TFieldDef &def : FieldDefs())
        columns.push_back(rec.indexOf(def.name));

    DisableControls();
    Close();
    CreateDataSet();
    while (q.next()) {
        Append();
        for (size_t f = 0; f < columns.size(); ++f)
            if (columns[f] >= 0)
                Fields(int(f)).SetValue(q.value(columns[f]));
        Post();
    }
    MergeChangeLog();
    First();
    EnableControls();
}
