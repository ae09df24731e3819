#include "host/errors.h"
#include "host/query.h"

#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// The branch/register lookup as the export filter runs it, on each engine we support.
void CheckRegisterLookup(const QString &url)
{
    vnd::OpenHostDatabase(url);
    QSqlDatabase db = vnd::HostDatabase();
    QSqlQuery q(db);
    q.exec(QStringLiteral("DROP TABLE IF EXISTS CAIXA_T"));
    ASSERT_TRUE(q.exec(QStringLiteral("CREATE TABLE CAIXA_T (CDFILIAL VARCHAR(4), CDCAIXA VARCHAR(3), NMCAIXA VARCHAR(50))")));
    for (const char *row : {"('0001','001','Caixa Um')", "('0001','002','Caixa Dois')", "('0002','001','Caixa Três')"})
        ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO CAIXA_T VALUES ") + QString::fromUtf8(row)));

    TADOIBQuery qry;
    qry.SQL = {QStringLiteral("SELECT C.CDFILIAL, C.CDCAIXA, C.NMCAIXA, C.CDFILIAL||C.CDCAIXA AS CAIXA"),
               QStringLiteral("FROM CAIXA_T C"),
               QStringLiteral("WHERE ((INSTR(:P_CDFILIAL, C.CDFILIAL) <> 0) OR (:P_TCDFILIAL = 'T'))"),
               QStringLiteral("ORDER BY C.CDFILIAL, C.CDCAIXA")};
    qry.AddField(QStringLiteral("CAIXA"), TFieldType::String, 7);
    qry.AddField(QStringLiteral("CDFILIAL"), TFieldType::String, 4);
    qry.AddField(QStringLiteral("NMCAIXA"), TFieldType::String, 50);
    qry.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(QStringLiteral("_0002_"));
    qry.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QString());
    qry.Open();
    ASSERT_EQ(qry.RecordCount(), 1);
    EXPECT_EQ(qry.FieldByName(QStringLiteral("CAIXA")).AsString(), QStringLiteral("0002001"));
    EXPECT_EQ(qry.FieldByName(QStringLiteral("NMCAIXA")).AsString(), QStringLiteral("Caixa Três"));

    qry.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(QString());
    qry.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QStringLiteral("T"));
    qry.Open();
    EXPECT_EQ(qry.RecordCount(), 3);
    EXPECT_THROW(qry.ParamByName(QStringLiteral("P_OUTRO")).SetAsString(QStringLiteral("x")), Exception);

    // A text with a quote is a value, never SQL.
    qry.ParamByName(QStringLiteral("P_CDFILIAL")).SetAsString(QStringLiteral("' OR 1=1 --"));
    qry.ParamByName(QStringLiteral("P_TCDFILIAL")).SetAsString(QString());
    qry.Open();
    EXPECT_TRUE(qry.IsEmpty());
    q.exec(QStringLiteral("DROP TABLE CAIXA_T"));
}

} // namespace

TEST(Query, ParameterisedLookupOnSQLite)
{
    QTemporaryDir dir;
    CheckRegisterLookup(QStringLiteral("sqlite:") + dir.filePath(QStringLiteral("host.db")));
}

TEST(Query, ParameterisedLookupOnPostgreSQL)
{
    const QString url = qEnvironmentVariable("VND_TEST_PG");
    if (url.isEmpty())
        GTEST_SKIP() << "VND_TEST_PG not set (scripts/test starts a server)";
    CheckRegisterLookup(url);
}

TEST(Query, UnreachableDatabaseIsAClearError)
{
    try {
        vnd::OpenHostDatabase(QStringLiteral("mysql://x"));
        FAIL();
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("mysql://x")));
    }
}
