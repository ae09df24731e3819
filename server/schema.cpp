#include "server/schema.h"

#include "host/errors.h"

#include <QStringList>

namespace vnd::server {

namespace {

struct Migration
{
    int version;
    const char *description;
    QStringList statements; // with {ID}, {IDREF}, {TS}, {MEMO}, {FLOAT} for the dialect's types
    bool postgresOnly = false;
};

// Long texts (the fiscal documents) stand last in VENDA so that filters and ordering read the short
// columns without walking a document's overflow pages.
const QList<Migration> &Migrations()
{
    static const QList<Migration> list = {
        {1,
         "cadastros, vendas, parâmetros e log de validação",
         {
             "CREATE TABLE FILIAL (CDFILIAL VARCHAR(4) NOT NULL PRIMARY KEY, NMFILIAL VARCHAR(30) NOT NULL, "
             "CDEMPRESA VARCHAR(2) NOT NULL, NRINSJURFILI VARCHAR(20) NOT NULL, NRINSCESTFILI VARCHAR(20), "
             "SGESTADO VARCHAR(2), WSSITEUFQRCODENFC VARCHAR(255), NRCERTDIGNFCE VARCHAR(50))",
             "CREATE INDEX FILIAL_CNPJ ON FILIAL (NRINSJURFILI)",
             "CREATE TABLE CAIXA (CDFILIAL VARCHAR(4) NOT NULL REFERENCES FILIAL (CDFILIAL), "
             "CDCAIXA VARCHAR(3) NOT NULL, NMCAIXA VARCHAR(50) NOT NULL, CDSERIENFCE VARCHAR(10), "
             "CDSERIESAT VARCHAR(10), PRIMARY KEY (CDFILIAL, CDCAIXA))",
             "CREATE INDEX CAIXA_SERIESAT ON CAIXA (CDSERIESAT)",
             "CREATE TABLE CLIENTE (CDCLIENTE VARCHAR(21) NOT NULL PRIMARY KEY, NMRAZSOCCLIE VARCHAR(100) NOT NULL, "
             "NRINSJURCLIE VARCHAR(20))",
             "CREATE INDEX CLIENTE_CPF ON CLIENTE (NRINSJURCLIE)",
             "CREATE TABLE TIPORECE (CDTIPORECE VARCHAR(3) NOT NULL PRIMARY KEY, NMTIPORECE VARCHAR(100) NOT NULL, "
             "IDTIPOPGTOFISC VARCHAR(2))",
             "CREATE TABLE PRODUTO (CDPRODUTO VARCHAR(30) NOT NULL PRIMARY KEY, NMPRODUTO VARCHAR(100) NOT NULL, "
             "CDBARRAPROD VARCHAR(14), CDNCM VARCHAR(8), SGUNIDADE VARCHAR(6), VRPRECOPROD {FLOAT})",
             "CREATE TABLE VENDA (IDVENDA {ID}, CDFILIAL VARCHAR(4) NOT NULL, CDCAIXA VARCHAR(3) NOT NULL, "
             "CDLOJA VARCHAR(10), NRSEQVENDA VARCHAR(10) NOT NULL, DTENTRVENDA {TS} NOT NULL, "
             "NRACESSONFCE VARCHAR(50) UNIQUE, CDSERIE VARCHAR(10), IDTPEMISVEND VARCHAR(1) NOT NULL, "
             "NRNOTAFISCALCE VARCHAR(9), IDSITUVENDA VARCHAR(1) NOT NULL, NRPROTOCOLONFCE VARCHAR(100), "
             "DTHRPROTOCONFCE {TS}, IDTPAMBNFCE VARCHAR(5), IDSTATUSNFCE VARCHAR(1) NOT NULL, "
             "DSOBSSTATUSNFCE VARCHAR(4000), NRINSJURIEST VARCHAR(20), DSRAZAOCANCNFCE VARCHAR(250), "
             "DTHRPROTOCOCANC {TS}, NRPROTOCOLOCANC VARCHAR(15), NRCERTDIGNFCE VARCHAR(50), "
             "WSSITEUFQRCODENFC VARCHAR(255), DSQRCODENFCE VARCHAR(1024), CDVERSAOXMLNFCE VARCHAR(10), "
             "IDORIGEMVENDA VARCHAR(10), CDCLIENTE VARCHAR(21) REFERENCES CLIENTE (CDCLIENTE), "
             "NRINSCRCONS VARCHAR(20), NRLANCTONFCE VARCHAR(10), NRACESSOCANC VARCHAR(50), VRTOTVENDA {FLOAT}, "
             "CDOPERADOR VARCHAR(20), NMARQXMLIMP VARCHAR(150), DTHRIMPORTACAO {TS}, "
             "DSARQXMLNFCE {MEMO}, DSARQXMLCANCNFCE {MEMO}, "
             "FOREIGN KEY (CDFILIAL, CDCAIXA) REFERENCES CAIXA (CDFILIAL, CDCAIXA))",
             "CREATE INDEX VENDA_ORDEM ON VENDA (CDFILIAL, CDCAIXA, DTENTRVENDA, NRSEQVENDA, IDVENDA)",
             "CREATE INDEX VENDA_DATA ON VENDA (DTENTRVENDA)",
             "CREATE TABLE VENDAITEM (IDVENDA {IDREF} NOT NULL REFERENCES VENDA (IDVENDA), "
             "NRSEQUITVEND VARCHAR(3) NOT NULL, CDPRODUTO VARCHAR(30) NOT NULL REFERENCES PRODUTO (CDPRODUTO), "
             "QTPRODVEND {FLOAT} NOT NULL, VRUNITVEND {FLOAT} NOT NULL, VRDESITVEND {FLOAT} NOT NULL, "
             "VRACRITVEND {FLOAT} NOT NULL, PRIMARY KEY (IDVENDA, NRSEQUITVEND))",
             "CREATE TABLE VENDARECE (IDVENDA {IDREF} NOT NULL REFERENCES VENDA (IDVENDA), "
             "NRSEQRECE INTEGER NOT NULL, IDPGTO VARCHAR(2), CDTIPORECE VARCHAR(3) REFERENCES TIPORECE (CDTIPORECE), "
             "VRPGTO {FLOAT} NOT NULL, IDTROCO VARCHAR(1) NOT NULL, PRIMARY KEY (IDVENDA, NRSEQRECE))",
             "CREATE INDEX VENDARECE_TIPO ON VENDARECE (CDTIPORECE, IDVENDA)",
             "CREATE TABLE PARAMGERAL (IDPARAMGERAL INTEGER NOT NULL PRIMARY KEY CHECK (IDPARAMGERAL = 1), "
             "DTINIGERAARQXML {TS}, DSDIRARQXML VARCHAR(100), DSDIRARQPHPGXML VARCHAR(100), "
             "DSDIRINSTALAPHP VARCHAR(100), IDENVARQCMP VARCHAR(1) NOT NULL)",
             "INSERT INTO PARAMGERAL (IDPARAMGERAL, IDENVARQCMP) VALUES (1, 'N')",
             "CREATE TABLE SEQUENCIA (NMSEQUENCIA VARCHAR(30) NOT NULL PRIMARY KEY, NRULTIMO {IDREF} NOT NULL)",
             "INSERT INTO SEQUENCIA (NMSEQUENCIA, NRULTIMO) VALUES ('PREVALIDXML', 0)",
             "CREATE TABLE PREVALIDXML (IDPREVALIDXML {ID}, NRSEQVALIDXML {IDREF} NOT NULL, "
             "IDTPVALIDXML VARCHAR(1) NOT NULL, NMARQXML VARCHAR(150), CDFILIAL VARCHAR(4), CDCAIXA VARCHAR(3), "
             "NRNOTAFISCALCE VARCHAR(9), NRACESSONFCE VARCHAR(50), CDPRODUTO VARCHAR(30), NMPRODUTO VARCHAR(50), "
             "DSERROXML VARCHAR(300), DSAJUDAXML VARCHAR(300), DTHRREGISTRO {TS})",
             "CREATE INDEX PREVALIDXML_LOTE ON PREVALIDXML (NRSEQVALIDXML, IDPREVALIDXML)",
         }},
        {2,
         "função INSTR das consultas de filtro",
         {"CREATE OR REPLACE FUNCTION INSTR(text, text) RETURNS integer LANGUAGE sql IMMUTABLE "
          "AS 'SELECT strpos($1, $2)'"},
         true},
        {3,
         "registro da geração automática por venda",
         {
             // One row per sale whose files the automatic generation wrote, with the status they were
             // written in: a sale cancelled since then is due again for its cancellation file.
             "CREATE TABLE VENDAGERAXML (IDVENDA {IDREF} NOT NULL PRIMARY KEY REFERENCES VENDA (IDVENDA), "
             "IDSTATUSNFCE VARCHAR(1) NOT NULL, DTHRGERACAO {TS} NOT NULL, DSDIRARQXML VARCHAR(100))",
         }},
        {4,
         "arquivos compactados e reserva da geração automática",
         {
             // The archives of the automatic generation: "P" while recorded but not yet under their final
             // name (a crash in between is finished or undone at the next start), "G" once in place.
             "CREATE TABLE ARQGERAXML (IDARQGERAXML {ID}, DSCAMINHO VARCHAR(1000) NOT NULL UNIQUE, "
             "IDSITUACAO VARCHAR(1) NOT NULL, DTHRGERACAO {TS} NOT NULL, QTVENDA INTEGER NOT NULL)",
             "ALTER TABLE VENDAGERAXML ADD COLUMN IDARQGERAXML {IDREF}",
             "CREATE INDEX VENDAGERAXML_ARQ ON VENDAGERAXML (IDARQGERAXML)",
             // One row while a generation runs: who runs it and until when its lease holds.
             "CREATE TABLE TRAVAGERAXML (IDTRAVA INTEGER NOT NULL PRIMARY KEY CHECK (IDTRAVA = 1), "
             "DSDETENTOR VARCHAR(300) NOT NULL, NRVALIDADE {IDREF} NOT NULL)",
         }},
    };
    return list;
}

QString ForDialect(QString sql, Dialect dialect)
{
    const bool pg = dialect == Dialect::PostgreSQL;
    sql.replace(QLatin1String("{ID}"), pg ? QLatin1String("BIGSERIAL PRIMARY KEY")
                                          : QLatin1String("INTEGER PRIMARY KEY AUTOINCREMENT"));
    sql.replace(QLatin1String("{IDREF}"), pg ? QLatin1String("BIGINT") : QLatin1String("INTEGER"));
    // SQLite keeps date-times as ISO text, which orders and compares like the dates themselves.
    sql.replace(QLatin1String("{TS}"), pg ? QLatin1String("TIMESTAMP") : QLatin1String("TEXT"));
    sql.replace(QLatin1String("{MEMO}"), QLatin1String("TEXT"));
    sql.replace(QLatin1String("{FLOAT}"), QLatin1String("DOUBLE PRECISION"));
    return sql;
}

int CurrentVersion(const ServerDb &db)
{
    QSqlQuery q = db.Exec(QStringLiteral("SELECT MAX(NRVERSAO) FROM SCHEMA_VERSAO"), {}, "ler a versão do esquema");
    return q.next() && !q.value(0).isNull() ? q.value(0).toInt() : 0;
}

} // namespace

int SchemaVersion() { return Migrations().last().version; }

int UpgradeSchema(const ServerDb &db)
{
    db.Exec(ForDialect(QStringLiteral("CREATE TABLE IF NOT EXISTS SCHEMA_VERSAO (NRVERSAO INTEGER NOT NULL PRIMARY "
                                      "KEY, DSVERSAO VARCHAR(100), DTHRAPLICACAO {TS})"),
                       db.dialect()),
            {}, "criar a tabela de versões do esquema");
    int reached = 0;
    for (const Migration &m : Migrations()) {
        db.Write([&] {
            // Two servers starting together on one PostgreSQL database take turns here; SQLite's
            // BEGIN IMMEDIATE already serialises them.
            if (db.dialect() == Dialect::PostgreSQL)
                db.Exec(QStringLiteral("SELECT pg_advisory_xact_lock(44004400)"), {}, "reservar o esquema");
            const int current = CurrentVersion(db);
            if (current > SchemaVersion())
                throw Exception(QStringLiteral("O banco de dados %1 está na versão %2 do esquema, mais nova que a "
                                               "deste servidor (%3). Atualize o servidor.")
                                    .arg(db.Url())
                                    .arg(current)
                                    .arg(SchemaVersion()));
            if (current >= m.version)
                return;
            if (!m.postgresOnly || db.dialect() == Dialect::PostgreSQL) {
                for (const QString &statement : m.statements)
                    db.Exec(ForDialect(statement, db.dialect()), {}, "atualizar o esquema do banco de dados");
            }
            db.Exec(QStringLiteral("INSERT INTO SCHEMA_VERSAO (NRVERSAO, DSVERSAO, DTHRAPLICACAO) VALUES (?, ?, %1)")
                        .arg(db.DateTimeParam()),
                    {m.version, QString::fromUtf8(m.description), ServerDb::DateTimeValue(QDateTime::currentDateTime())},
                    "registrar a versão do esquema");
        });
        reached = m.version;
    }
    return std::max(reached, CurrentVersion(db));
}

} // namespace vnd::server
