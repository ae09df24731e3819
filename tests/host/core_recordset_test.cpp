#include "host/errors.h"
#include "host/recordset.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

// The sale-list shape: every kind of field the tables use.
void DefineSales(TClientDataSet &cds)
{
    cds.AddField(QStringLiteral("IDCHECK"), TFieldType::FixedChar, 1);
    cds.AddField(QStringLiteral("CDFILIAL"), TFieldType::String, 4, QStringLiteral("Filial"));
    cds.AddField(QStringLiteral("DSARQXMLNFCE"), TFieldType::Memo);
    cds.AddField(QStringLiteral("DTENTRVENDA"), TFieldType::DateTime);
    cds.AddField(QStringLiteral("VRTOTVENDA"), TFieldType::Float);
    cds.AddField(QStringLiteral("QT"), TFieldType::Integer);
    cds.AddField(QStringLiteral("OK"), TFieldType::Boolean);
    cds.CreateDataSet();
}

void AddSale(TClientDataSet &cds, const QString &check, const QString &branch, const QByteArray &xml = {})
{
    cds.Append();
    cds.FieldByName(QStringLiteral("IDCHECK")).SetAsString(check);
    cds.FieldByName(QStringLiteral("CDFILIAL")).SetAsString(branch);
    cds.FieldByName(QStringLiteral("DSARQXMLNFCE")).SetAsBytes(xml);
    cds.Post();
}

} // namespace

TEST(RecordSet, PacketRoundTripsEveryTypeIncludingEmptyAndHugeValues)
{
    TClientDataSet a;
    DefineSales(a);
    QByteArray memo(3 * 1024 * 1024, 'x');
    memo.append(QStringLiteral("<xNome>Pão de Açúcar – ÁÉÍÓÚ àèìòù âêîôû ãõ ç Ç ü \"aspas\"</xNome>").toUtf8());
    a.Append();
    a.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("S"));
    a.FieldByName(QStringLiteral("CDFILIAL")).SetAsString(QStringLiteral("São"));
    a.FieldByName(QStringLiteral("DSARQXMLNFCE")).SetAsBytes(memo);
    a.FieldByName(QStringLiteral("DTENTRVENDA")).SetAsDateTime(QDateTime(QDate(2016, 5, 10), QTime(14, 3, 22)));
    a.FieldByName(QStringLiteral("VRTOTVENDA")).SetAsFloat(1234.56);
    a.FieldByName(QStringLiteral("QT")).SetAsInteger(-7);
    a.FieldByName(QStringLiteral("OK")).SetAsBoolean(true);
    a.Post();
    a.Append(); // a row of nulls
    a.Post();
    a.Append(); // empty texts stay empty texts
    a.FieldByName(QStringLiteral("CDFILIAL")).SetAsString(QString());
    a.FieldByName(QStringLiteral("VRTOTVENDA")).SetAsFloat(0);
    a.Post();

    TClientDataSet b;
    DefineSales(b);
    b.SetData(a.Data());
    ASSERT_EQ(b.RecordCount(), 3);
    b.First();
    EXPECT_EQ(b.FieldByName(QStringLiteral("CDFILIAL")).AsString(), QStringLiteral("São"));
    EXPECT_EQ(b.FieldByName(QStringLiteral("DSARQXMLNFCE")).AsBytes(), memo);
    EXPECT_EQ(b.FieldByName(QStringLiteral("DTENTRVENDA")).AsString(), QStringLiteral("10/05/2016 14:03:22"));
    EXPECT_DOUBLE_EQ(b.FieldByName(QStringLiteral("VRTOTVENDA")).AsFloat(), 1234.56);
    EXPECT_EQ(b.FieldByName(QStringLiteral("QT")).AsInteger(), -7);
    EXPECT_TRUE(b.FieldByName(QStringLiteral("OK")).AsBoolean());
    b.Next();
    for (int i = 0; i < b.FieldCount(); ++i)
        EXPECT_TRUE(b.Fields(i).IsNull()) << i;
    b.Next();
    EXPECT_EQ(b.FieldByName(QStringLiteral("CDFILIAL")).AsString(), QString());
    EXPECT_DOUBLE_EQ(b.FieldByName(QStringLiteral("VRTOTVENDA")).AsFloat(), 0.0);
    EXPECT_EQ(b.ChangeCount(), 0);

    // A set without definitions takes them from the packet.
    TClientDataSet c;
    c.SetData(a.Data());
    EXPECT_EQ(c.FieldCount(), a.FieldCount());
    EXPECT_EQ(c.Data().json, a.Data().json);
}

TEST(RecordSet, StringsAreCutToTheirSizeInCharacters)
{
    TClientDataSet cds;
    DefineSales(cds);
    AddSale(cds, QStringLiteral("SN"), QStringLiteral("ÇãoÉxyz"));
    EXPECT_EQ(cds.FieldByName(QStringLiteral("IDCHECK")).AsString(), QStringLiteral("S"));
    EXPECT_EQ(cds.FieldByName(QStringLiteral("CDFILIAL")).AsString(), QStringLiteral("ÇãoÉ"));

    // A packet carrying longer values is cut on load too.
    TClientDataSet wide;
    wide.AddField(QStringLiteral("CDFILIAL"), TFieldType::String, 50);
    wide.CreateDataSet();
    wide.Append();
    wide.FieldByName(QStringLiteral("CDFILIAL")).SetAsString(QStringLiteral("0001XYZ"));
    wide.Post();
    TClientDataSet narrow;
    DefineSales(narrow);
    narrow.SetData(wide.Data());
    EXPECT_EQ(narrow.FieldByName(QStringLiteral("CDFILIAL")).AsString(), QStringLiteral("0001"));
}

TEST(RecordSet, ChangeLogYieldsExactlyTheChangedRows)
{
    TClientDataSet cds;
    DefineSales(cds);
    for (int i = 0; i < 5; ++i)
        AddSale(cds, QStringLiteral("N"), QString::number(i));
    EXPECT_EQ(cds.ChangeCount(), 5);
    cds.MergeChangeLog();
    EXPECT_EQ(cds.ChangeCount(), 0);

    cds.First();
    cds.Next(); // row 1 modified
    cds.Edit();
    cds.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("S"));
    cds.Post();
    cds.Next(); // row 2 edited back to its value: no change
    cds.Edit();
    cds.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("N"));
    cds.Post();
    cds.Next(); // row 3 deleted
    cds.Delete();
    AddSale(cds, QStringLiteral("S"), QStringLiteral("9")); // inserted
    EXPECT_EQ(cds.ChangeCount(), 3);

    TClientDataSet delta;
    delta.SetData(cds.Delta());
    ASSERT_EQ(delta.RecordCount(), 3);
    QStringList branches;
    for (delta.First(); !delta.Eof(); delta.Next())
        branches << delta.FieldByName(QStringLiteral("CDFILIAL")).AsString();
    EXPECT_EQ(branches, QStringList({QStringLiteral("1"), QStringLiteral("9"), QStringLiteral("3")}));
    EXPECT_TRUE(cds.Delta().json.contains(R"("rowstate":["modified","inserted","deleted"])"));
    EXPECT_EQ(TClientDataSet::DeltaRowStates(cds.Delta()),
              QStringList({QStringLiteral("modified"), QStringLiteral("inserted"), QStringLiteral("deleted")}));
    EXPECT_TRUE(TClientDataSet::DeltaRowStates(cds.Data()).isEmpty());
}

TEST(RecordSet, FilterAndNavigationAgree)
{
    TClientDataSet cds;
    DefineSales(cds);
    const QString marks[] = {QStringLiteral("S"), QStringLiteral("N"), QStringLiteral("S"), QString(), QStringLiteral("S")};
    for (int i = 0; i < 5; ++i)
        AddSale(cds, marks[i], QString::number(i));
    cds.SetFilter(QStringLiteral("IDCHECK = 'S'"));
    cds.SetFiltered(true);
    EXPECT_EQ(cds.RecordCount(), 3);
    QStringList seen;
    for (cds.First(); !cds.Eof(); cds.Next())
        seen << cds.FieldByName(QStringLiteral("CDFILIAL")).AsString();
    EXPECT_EQ(seen, QStringList({QStringLiteral("0"), QStringLiteral("2"), QStringLiteral("4")}));

    // Unticking the current row under the filter moves nothing but the row no longer counts.
    cds.First();
    cds.Edit();
    cds.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("N"));
    cds.Post();
    EXPECT_EQ(cds.RecordCount(), 2);

    cds.SetFiltered(false);
    EXPECT_EQ(cds.RecordCount(), 5);
    int n = 0;
    for (cds.First(); !cds.Eof(); cds.Next())
        ++n;
    EXPECT_EQ(n, 5);
    EXPECT_THROW(cds.SetFilter(QStringLiteral("IDCHECK LIKE 'S%'")), Exception);
    EXPECT_THROW(cds.SetFilter(QStringLiteral("NOPE = 'S'")), Exception);
}

TEST(RecordSet, AppendDataAddsPagesAsInsertedUntilMerged)
{
    TClientDataSet page, list;
    DefineSales(page);
    DefineSales(list);
    for (int p = 0; p < 3; ++p) {
        page.EmptyDataSet();
        for (int i = 0; i < 4; ++i)
            AddSale(page, QStringLiteral("N"), QString::number(p * 4 + i));
        list.AppendData(page.Data());
        EXPECT_EQ(list.ChangeCount(), 4);
        list.MergeChangeLog();
    }
    EXPECT_EQ(list.RecordCount(), 12);
    list.Last();
    EXPECT_EQ(list.FieldByName(QStringLiteral("CDFILIAL")).AsString(), QStringLiteral("11"));
}

TEST(RecordSet, MisuseIsReportedNotIgnored)
{
    TClientDataSet cds;
    DefineSales(cds);
    EXPECT_THROW(cds.FieldByName(QStringLiteral("IDCHECK")).SetAsString(QStringLiteral("S")), Exception);
    EXPECT_THROW(cds.Edit(), Exception);
    EXPECT_THROW(cds.FieldByName(QStringLiteral("NAOEXISTE")), Exception);
    EXPECT_THROW(cds.SetData(TDataPacket{"{\"fields\":[{\"name\":\"A\",\"type\":\"blob\"}],\"rows\":[]}"}), Exception);
    EXPECT_THROW(cds.SetData(TDataPacket{"{\"fields\":[],\"rows\":[[1]]}"}), Exception);
    EXPECT_THROW(cds.SetData(TDataPacket{"{\"rows\":"}), Exception);
}

TEST(RecordSet, RowFieldsReadAnyRowThroughTheTextHandlerWithoutMovingTheCursor)
{
    TClientDataSet cds;
    DefineSales(cds);
    cds.SetOnGetText(QStringLiteral("IDCHECK"), [](const TField &f) { return f.AsString() == "S" ? "sim" : "não"; });
    AddSale(cds, QStringLiteral("S"), QStringLiteral("0001"));
    AddSale(cds, QStringLiteral("N"), QStringLiteral("0002"));
    cds.First();
    EXPECT_EQ(cds.RowField(1, 0).DisplayText(), QStringLiteral("não"));
    EXPECT_EQ(cds.RowField(1, 1).AsString(), QStringLiteral("0002"));
    EXPECT_EQ(cds.RecNo(), 0);
    // Even with the current row in edit, a row handle shows the stored row and never writes.
    cds.Edit();
    cds.FieldByName(QStringLiteral("CDFILIAL")).SetAsString(QStringLiteral("0009"));
    EXPECT_EQ(cds.RowField(0, 1).AsString(), QStringLiteral("0001"));
    EXPECT_THROW(cds.RowField(1, 1).SetAsString(QStringLiteral("x")), Exception);
    cds.Post();
    cds.SetFilter(QStringLiteral("IDCHECK = 'N'"));
    cds.SetFiltered(true);
    EXPECT_FALSE(cds.RowVisible(0));
    EXPECT_TRUE(cds.RowVisible(1));
}

// The rows are held packed: every form a field's value takes comes back as it went in, field by field
// and whole, and two packs of the same values compare equal.
TEST(RecordSet, PackedRowsGiveBackEveryValueAsStored)
{
    using vnd::recordset::PackedRow;
    const QDateTime local(QDate(2026, 12, 9), QTime(23, 59, 58, 999));
    const QDateTime utc = QDateTime(QDate(1999, 1, 2), QTime(3, 4, 5), Qt::UTC);
    const QDateTime offset = QDateTime(QDate(2026, 7, 1), QTime(12, 0), Qt::OffsetFromUTC, -3 * 3600);
    const std::vector<QVariant> values{QVariant(),
                                       true,
                                       false,
                                       qint64(0),
                                       qint64(-1),
                                       std::numeric_limits<qint64>::min(),
                                       std::numeric_limits<qint64>::max(),
                                       0.1,
                                       -1e300,
                                       local,
                                       QDateTime(QDate(1, 1, 1), QTime(0, 0)),
                                       utc,
                                       offset,
                                       QDateTime(),
                                       QByteArray(),
                                       QByteArray(""),
                                       QByteArray("a\0b", 3),
                                       QByteArray(70000, 'x'),
                                       QByteArray("Ação é válida"),
                                       QStringLiteral("texto"),
                                       QDate(2026, 2, 28)};
    const PackedRow row(values);
    const std::vector<QVariant> back = row.Unpack(values.size() + 2);
    ASSERT_EQ(back.size(), values.size() + 2);
    for (size_t i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(back[i].typeId(), values[i].typeId());
        EXPECT_EQ(back[i], values[i]);
        EXPECT_EQ(row.At(i), values[i]);
        EXPECT_EQ(back[i].isNull(), values[i].isNull());
    }
    EXPECT_EQ(back[9].toDateTime().timeSpec(), Qt::LocalTime);
    EXPECT_EQ(back[11].toDateTime().timeSpec(), Qt::UTC);
    EXPECT_EQ(back[12].toDateTime().offsetFromUtc(), -3 * 3600);
    EXPECT_FALSE(back[values.size()].isValid()); // past the packed fields: null
    EXPECT_FALSE(row.At(values.size() + 5).isValid());

    PackedRow copy = row;
    EXPECT_TRUE(copy == row);
    PackedRow moved = std::move(copy);
    EXPECT_TRUE(moved == row);
    EXPECT_TRUE(copy.Empty());
    std::vector<QVariant> changed = values;
    changed[1] = false;
    EXPECT_TRUE(PackedRow(changed) != row);
    EXPECT_TRUE(PackedRow(std::vector<QVariant>(3)) != PackedRow(std::vector<QVariant>(4)));

    // With a pool: a text repeated down a column is held once, and every row reads back its own values.
    vnd::recordset::TextPool pool;
    std::vector<PackedRow> rows;
    std::vector<std::vector<QVariant>> sent;
    for (int i = 0; i < 50; ++i) {
        sent.push_back({QByteArray("https://www.sefaz.example/nfce/consulta"), QByteArray::number(i),
                        QByteArray(i % 2 ? "S" : "N"), QByteArray(200, char('a' + i % 26))});
        rows.emplace_back(sent.back(), &pool);
    }
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].Unpack(4, &pool), sent[i]) << i;
        EXPECT_EQ(rows[i].At(2, &pool), sent[i][2]) << i;
    }
    EXPECT_NE(rows[10].Unpack(4, &pool), rows[11].Unpack(4, &pool));
    // The long text stays in each row; the site, the tick and nothing else go to the pool.
    EXPECT_EQ(pool.Find(3, QByteArray(200, 'a')), -1);
    EXPECT_GE(pool.Find(0, QByteArray("https://www.sefaz.example/nfce/consulta")), 0);
}
