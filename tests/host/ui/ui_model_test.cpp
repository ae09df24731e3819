#include "host/errors.h"
#include "host/ui/datasource.h"
#include "host/ui/dbgrid.h"
#include "host/ui/recordsetmodel.h"

#include <QAbstractItemModelTester>
#include <QHeaderView>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace
{

// Collects what QAbstractItemModelTester reports, so that a broken model fails the test that broke it.
class ModelCheck
{
  public:
    explicit ModelCheck(QAbstractItemModel *model)
    {
        s_failures.clear();
        m_previous = qInstallMessageHandler(&ModelCheck::Handler);
        m_tester = std::make_unique<QAbstractItemModelTester>(
            model, QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    ~ModelCheck() { qInstallMessageHandler(m_previous); }
    QStringList Failures() const { return s_failures; }

  private:
    static void Handler(QtMsgType, const QMessageLogContext &context, const QString &message)
    {
        if (context.category && QByteArray(context.category) == "qt.modeltest")
            s_failures << message;
    }
    static inline QStringList s_failures;
    QtMessageHandler m_previous;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void DefineSales(TClientDataSet &cds)
{
    cds.AddField(QStringLiteral("IDCHECK"), TFieldType::FixedChar, 1);
    cds.AddField(QStringLiteral("CDFILIAL"), TFieldType::String, 4, QStringLiteral("Filial"));
    cds.AddField(QStringLiteral("DSARQXMLNFCE"), TFieldType::Memo);
    cds.AddField(QStringLiteral("IDSITUVENDA"), TFieldType::String, 1, QStringLiteral("Situação Venda"));
    cds.AddField(QStringLiteral("VRTOTVENDA"), TFieldType::Float, 0, QStringLiteral("Total"));
    cds.FieldDefAt(2).visible = false;
    cds.CreateDataSet();
    cds.SetOnGetText(QStringLiteral("IDSITUVENDA"), [](const TField &f) {
        return f.AsString() == "O"   ? QStringLiteral("Concluída")
               : f.AsString() == "C" ? QStringLiteral("Cancelada")
                                     : QStringLiteral("Devolução");
    });
}

void AddSale(TClientDataSet &cds, const QString &check, const QString &branch, const QString &situation)
{
    cds.Append();
    cds.FieldByName(QStringLiteral("IDCHECK")).SetAsString(check);
    cds.FieldByName(QStringLiteral("CDFILIAL")).SetAsString(branch);
    cds.FieldByName(QStringLiteral("IDSITUVENDA")).SetAsString(situation);
    cds.FieldByName(QStringLiteral("VRTOTVENDA")).SetAsFloat(10.5);
    cds.Post();
}

QString Cell(const QAbstractItemModel &m, int row, int column)
{
    return m.index(row, column).data().toString();
}

} // namespace

TEST(RecordSetModel, StaysConsistentWhileRowsAreAppendedEditedFilteredAndReplaced)
{
    TClientDataSet cds;
    DefineSales(cds);
    vnd::RecordSetModel model(&cds);
    ModelCheck check(&model);

    // Visible fields only, titled by their labels; display texts through the field's handler.
    ASSERT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Filial"));
    AddSale(cds, QStringLiteral("N"), QStringLiteral("0001"), QStringLiteral("O"));
    AddSale(cds, QStringLiteral("S"), QStringLiteral("0002"), QStringLiteral("C"));
    AddSale(cds, QStringLiteral("N"), QStringLiteral("0003"), QString());
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(Cell(model, 0, 2), QStringLiteral("Concluída"));
    EXPECT_EQ(Cell(model, 2, 2), QStringLiteral("Devolução"));
    EXPECT_EQ(Cell(model, 1, 3), QStringLiteral("10,5"));

    cds.First();
    cds.Edit();
    cds.FieldByName(QStringLiteral("IDSITUVENDA")).SetAsString(QStringLiteral("C"));
    cds.Post();
    EXPECT_EQ(Cell(model, 0, 2), QStringLiteral("Cancelada"));

    cds.SetFilter(QStringLiteral("IDCHECK = 'N'"));
    cds.SetFiltered(true);
    ASSERT_EQ(model.rowCount(), 2);
    EXPECT_EQ(Cell(model, 1, 1), QStringLiteral("0003"));
    EXPECT_EQ(model.RecNo(1), 2);
    EXPECT_EQ(model.RowOf(1), -1);
    AddSale(cds, QStringLiteral("N"), QStringLiteral("0004"), QStringLiteral("O"));
    AddSale(cds, QStringLiteral("S"), QStringLiteral("0005"), QStringLiteral("O"));
    EXPECT_EQ(model.rowCount(), 3);
    cds.SetFiltered(false);
    EXPECT_EQ(model.rowCount(), 5);

    cds.Last();
    cds.Delete();
    EXPECT_EQ(model.rowCount(), 4);
    TClientDataSet other;
    DefineSales(other);
    AddSale(other, QStringLiteral("N"), QStringLiteral("0099"), QStringLiteral("O"));
    cds.SetData(other.Data());
    ASSERT_EQ(model.rowCount(), 1);
    EXPECT_EQ(Cell(model, 0, 1), QStringLiteral("0099"));
    cds.EmptyDataSet();
    EXPECT_EQ(model.rowCount(), 0);
    cds.Close();
    EXPECT_EQ(model.rowCount(), 0);
    EXPECT_TRUE(check.Failures().isEmpty()) << check.Failures().join(QLatin1Char('\n')).toStdString();
}

TEST(RecordSetModel, AppendedPagesArriveAsInsertedRowsSoViewsKeepTheirPlace)
{
    TClientDataSet page, list;
    DefineSales(page);
    DefineSales(list);
    vnd::RecordSetModel model(&list);
    ModelCheck check(&model);
    QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
    QSignalSpy inserts(&model, &QAbstractItemModel::rowsInserted);
    for (int p = 0; p < 3; ++p) {
        page.EmptyDataSet();
        for (int i = 0; i < 500; ++i)
            AddSale(page, QStringLiteral("N"), QString::number(p * 500 + i), QStringLiteral("O"));
        list.AppendData(page.Data());
        list.MergeChangeLog();
    }
    EXPECT_EQ(model.rowCount(), 1500);
    EXPECT_EQ(inserts.count(), 3);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(Cell(model, 1499, 1), QStringLiteral("1499"));
    EXPECT_TRUE(check.Failures().isEmpty()) << check.Failures().join(QLatin1Char('\n')).toStdString();
}

TEST(RecordSetModel, ExplicitColumnsGiveTitlesWidthsAndRefuseUnknownFields)
{
    TClientDataSet cds;
    DefineSales(cds);
    vnd::RecordSetModel model(&cds);
    model.SetColumns({{QStringLiteral("CDFILIAL"), {}, 33},
                      {QStringLiteral("IDCHECK"), QStringLiteral("4"), 24},
                      {QStringLiteral("DSARQXMLNFCE"), QStringLiteral("XML"), 0}});
    ASSERT_EQ(model.columnCount(), 3);
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), QStringLiteral("Filial"));
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("4"));
    EXPECT_EQ(model.ColumnWidth(0), 33);
    EXPECT_EQ(model.FieldOf(2), 2); // an explicit list may show a hidden field
    EXPECT_THROW(model.SetColumns({{QStringLiteral("NAOEXISTE"), {}, 0}}), Exception);
    EXPECT_EQ(model.columnCount(), 3);
}

TEST(DBGrid, CurrentRowAndRecordFollowEachOtherAndTitlesNameTheirField)
{
    TClientDataSet cds;
    DefineSales(cds);
    for (int i = 0; i < 5; ++i)
        AddSale(cds, QStringLiteral("N"), QString::number(i), QStringLiteral("O"));
    TDataSource source(nullptr, &cds);
    TDBGrid grid;
    grid.SetDataSource(&source);
    grid.show();

    // A walk over the records moves the grid once, to where the walk ended.
    for (cds.First(); cds.RecNo() < 3; cds.Next())
        ;
    QCoreApplication::processEvents();
    EXPECT_EQ(grid.currentIndex().row(), 3);
    grid.setCurrentIndex(grid.model()->index(1, 0));
    EXPECT_EQ(cds.RecNo(), 1);
    EXPECT_EQ(cds.FieldByName(QStringLiteral("CDFILIAL")).AsString(), QStringLiteral("1"));

    QSignalSpy titles(&grid, &TDBGrid::titleClick);
    emit grid.horizontalHeader()->sectionClicked(0);
    ASSERT_EQ(titles.count(), 1);
    EXPECT_EQ(titles.at(0).at(0).toString(), QStringLiteral("IDCHECK"));

    // Another record set behind the same source rebinds the grid.
    TClientDataSet other;
    DefineSales(other);
    source.SetDataSet(&other);
    EXPECT_EQ(grid.model()->rowCount(), 0);
}
