#include "host/errors.h"
#include "host/ui/controls.h"
#include "host/ui/datasource.h"
#include "host/ui/dateedit.h"
#include "host/ui/pesquisalista.h"
#include "host/ui/rowchooser.h"
#include "tests/support/scripted_platform.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

namespace
{

// The branch lookup list of the filters: code and name.
void DefineBranches(TClientDataSet &cds, const QStringList &codes)
{
    cds.AddField(QStringLiteral("CDFILIAL"), TFieldType::String, 4, QStringLiteral("Código"));
    cds.AddField(QStringLiteral("NMFILIAL"), TFieldType::String, 30, QStringLiteral("Nome"));
    cds.CreateDataSet();
    for (const QString &code : codes) {
        cds.Append();
        cds.FieldByName(QStringLiteral("CDFILIAL")).SetAsString(code);
        cds.FieldByName(QStringLiteral("NMFILIAL")).SetAsString(QStringLiteral("Loja ") + code);
        cds.Post();
    }
    cds.First();
}

} // namespace

TEST(Selection, TextsCarryEachCodeWholeInOrder)
{
    EXPECT_EQ(vnd::BuildSelection({}), QString());
    EXPECT_EQ(vnd::BuildSelection({QStringLiteral("0001")}), QStringLiteral("_0001_"));
    const QString two = vnd::BuildSelection({QStringLiteral("0001"), QStringLiteral("0003")});
    EXPECT_EQ(two, QStringLiteral("_0001__0003_"));
    EXPECT_EQ(vnd::ParseSelection(two), (QStringList{QStringLiteral("0001"), QStringLiteral("0003")}));
    EXPECT_TRUE(vnd::ParseSelection(QString()).isEmpty());
    EXPECT_TRUE(vnd::ParseSelection(QStringLiteral("T")).isEmpty());
    // A code that is only part of a selected one is not selected.
    EXPECT_TRUE(vnd::SelectionHas(QStringLiteral("_0001002_"), QStringLiteral("0001002")));
    EXPECT_FALSE(vnd::SelectionHas(QStringLiteral("_0001002_"), QStringLiteral("0001")));
    EXPECT_FALSE(vnd::SelectionHas(QStringLiteral("_0001__0003_"), QStringLiteral("0002")));
}

TEST(PesquisaLista, PreselectsTheCodesOfTheTextAndWritesTheChosenOnes)
{
    TClientDataSet branches;
    DefineBranches(branches, {QStringLiteral("0001"), QStringLiteral("0002"), QStringLiteral("0003")});
    TDataSource source(nullptr, &branches);
    vndtest::ScopedPlatform platform;

    QString selection = QStringLiteral("_0002__0003_");
    platform->ExpectPick({0, 2});
    EXPECT_TRUE(
        PesquisaLista(&source, QStringLiteral("CDFILIAL"), QStringLiteral("Filial"), false, selection));
    EXPECT_EQ(platform->LastPickTitle(), QStringLiteral("Filial"));
    EXPECT_EQ(platform->LastPickPreselected(), (std::vector<int>{1, 2}));
    EXPECT_EQ(selection, QStringLiteral("_0001__0003_"));

    // Nothing ticked empties the selection; cancelling leaves it as it was.
    platform->ExpectPick({});
    EXPECT_TRUE(
        PesquisaLista(&source, QStringLiteral("CDFILIAL"), QStringLiteral("Filial"), false, selection));
    EXPECT_EQ(selection, QString());
    selection = QStringLiteral("_0001_");
    platform->ExpectPickCancel();
    EXPECT_FALSE(
        PesquisaLista(&source, QStringLiteral("CDFILIAL"), QStringLiteral("Filial"), false, selection));
    EXPECT_EQ(selection, QStringLiteral("_0001_"));

    EXPECT_THROW(PesquisaLista(&source, QStringLiteral("CDCAIXA"), QStringLiteral("Caixa"), false, selection),
                 Exception);
    branches.Close();
    EXPECT_THROW(
        PesquisaLista(&source, QStringLiteral("CDFILIAL"), QStringLiteral("Filial"), false, selection),
        Exception);
}

TEST(BtnPesquisa, RunsBeforeThenMovesToThePickedRowThenAfter)
{
    TClientDataSet branches;
    TDataSource source(nullptr, &branches);
    QLineEdit edit;
    TBtnPesquisa button;
    button.DataSource = &source;
    button.Edit = &edit;
    button.Title = QStringLiteral("Filial");
    button.EmptyError = QStringLiteral("Não há filial cadastrada.");
    QStringList calls;
    bool proceed = true;
    button.OnBeforePesq = [&](QObject *sender, bool &go) {
        EXPECT_EQ(sender, &button);
        calls << QStringLiteral("antes");
        go = proceed;
    };
    button.OnAfterPesq = [&](QObject *) {
        calls << QStringLiteral("depois");
        edit.setText(branches.FieldByName(QStringLiteral("CDFILIAL")).AsString());
    };
    vndtest::ScopedPlatform platform;

    // An empty list: the message, and nothing after it.
    DefineBranches(branches, {});
    platform->ExpectError(QStringLiteral("Não há filial cadastrada."));
    button.click();
    EXPECT_EQ(calls, QStringList{QStringLiteral("antes")});

    branches.Close();
    branches.CreateDataSet();
    for (const char *code : {"0001", "0002", "0003"}) {
        branches.Append();
        branches.FieldByName(QStringLiteral("CDFILIAL")).SetAsString(QString::fromLatin1(code));
        branches.Post();
    }
    calls.clear();
    platform->ExpectPick({2});
    button.click();
    EXPECT_EQ(calls, (QStringList{QStringLiteral("antes"), QStringLiteral("depois")}));
    EXPECT_EQ(edit.text(), QStringLiteral("0003"));
    EXPECT_EQ(branches.RecNo(), 2);

    calls.clear();
    platform->ExpectPickCancel();
    button.click();
    EXPECT_EQ(calls, QStringList{QStringLiteral("antes")});

    calls.clear();
    proceed = false; // OnBeforePesq refuses: no list at all
    button.click();
    EXPECT_EQ(calls, QStringList{QStringLiteral("antes")});
}

TEST(RowChooserDialog, TicksSurviveTheSearchAndComeBackInListOrder)
{
    TClientDataSet branches;
    DefineBranches(branches, {QStringLiteral("0001"), QStringLiteral("0002"), QStringLiteral("0003"),
                              QStringLiteral("0010")});
    vnd::RowChooserDialog multi(nullptr, QStringLiteral("Filial"), branches, true, {3});
    multi.SetSearch(QStringLiteral("000"));
    EXPECT_EQ(multi.View()->model()->rowCount(), 3);
    multi.SetTicked(0, true);
    multi.TickShown(true);
    multi.SetTicked(1, false);
    multi.SetSearch(QString());
    EXPECT_EQ(multi.Chosen(), (std::vector<int>{0, 2, 3}));
    EXPECT_EQ(multi.View()->model()->index(3, 0).data(Qt::CheckStateRole).toInt(), int(Qt::Checked));

    vnd::RowChooserDialog single(nullptr, QStringLiteral("Filial"), branches, false, {2});
    EXPECT_EQ(single.Chosen(), std::vector<int>{2});
    single.SetSearch(QStringLiteral("Loja 0010"));
    single.View()->setCurrentIndex(single.View()->model()->index(0, 0));
    EXPECT_EQ(single.Chosen(), std::vector<int>{3});
}

TEST(DateEditPlus, ReadsValidPartialAndEmptyDatesAndShowsTheWeekday)
{
    EXPECT_EQ(vnd::ParseDateBr(QStringLiteral("29/02/2024")), QDate(2024, 2, 29));
    EXPECT_FALSE(vnd::ParseDateBr(QStringLiteral("29/02/2023")).isValid());
    EXPECT_FALSE(vnd::ParseDateBr(QStringLiteral("1/2/2024")).isValid());
    EXPECT_EQ(vnd::WeekdayName(QDate(2024, 6, 2)), QStringLiteral("Domingo"));
    EXPECT_EQ(vnd::WeekdayName(QDate(2024, 6, 3)), QStringLiteral("Segunda-feira"));
    EXPECT_EQ(vnd::WeekdayName(QDate(2024, 6, 8)), QStringLiteral("Sábado"));
    EXPECT_EQ(vnd::WeekdayName(QDate()), QString());

    TDateEditPlus edit;
    const QColor normal = edit.palette().color(QPalette::Text);
    EXPECT_TRUE(edit.IsEmpty());
    EXPECT_EQ(edit.Text(), QString());
    EXPECT_FALSE(edit.IsDateValid());

    QTest::keyClicks(&edit, QStringLiteral("31022024"));
    EXPECT_FALSE(edit.IsDateValid());
    EXPECT_EQ(edit.Text(), QStringLiteral("31/02/2024"));
    EXPECT_EQ(edit.palette().color(QPalette::Text), normal);

    edit.clear();
    QTest::keyClicks(&edit, QStringLiteral("120"));
    EXPECT_FALSE(edit.IsEmpty());
    EXPECT_EQ(edit.Text(), QStringLiteral("12/0"));

    edit.SetDate(QDate(2016, 5, 10));
    EXPECT_TRUE(edit.IsDateValid());
    EXPECT_EQ(edit.GetDate(), QDate(2016, 5, 10));
    EXPECT_EQ(edit.text(), QStringLiteral("10/05/2016"));
    EXPECT_EQ(edit.palette().color(QPalette::Text), QColor(Qt::blue));
    edit.SetDate(QDate());
    EXPECT_TRUE(edit.IsEmpty());
}

TEST(DateEditPlus, AClickOrFocusPastTheBlanksPutsTheCursorOnTheFirstOne)
{
    QWidget form;
    auto *before = new QLineEdit(&form);
    auto *edit = new TDateEditPlus(&form);
    edit->setGeometry(0, 30, 220, 24);
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));

    // A click at the right end of an empty edit: the digits still land from the first position.
    QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() - 30, edit->height() / 2));
    EXPECT_EQ(edit->cursorPosition(), 0);
    QTest::keyClicks(edit, QStringLiteral("05112026"));
    EXPECT_EQ(edit->GetDate(), QDate(2026, 11, 5));

    // Cleared and clicked past a partial date: typing goes on after the last digit.
    edit->clear();
    QTest::keyClicks(edit, QStringLiteral("051"));
    edit->setCursorPosition(0);
    QTest::mouseClick(edit, Qt::LeftButton, {}, QPoint(edit->width() - 30, edit->height() / 2));
    EXPECT_EQ(edit->cursorPosition(), 4);
    QTest::keyClicks(edit, QStringLiteral("12026"));
    EXPECT_EQ(edit->GetDate(), QDate(2026, 11, 5));

    // Entering by Tab: an incomplete date is continued, a complete one is typed over from its start.
    edit->clear();
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    ASSERT_TRUE(edit->hasFocus());
    EXPECT_FALSE(edit->hasSelectedText());
    EXPECT_EQ(edit->cursorPosition(), 0);
    QTest::keyClicks(edit, QStringLiteral("01012027"));
    EXPECT_EQ(edit->GetDate(), QDate(2027, 1, 1));
    before->setFocus();
    QTest::keyClick(before, Qt::Key_Tab);
    QTest::keyClicks(edit, QStringLiteral("02022028"));
    EXPECT_EQ(edit->GetDate(), QDate(2028, 2, 2));
}

TEST(DBDateEditPlus, ShowsTheFieldAndWritesOnlyCompleteDates)
{
    TClientDataSet params;
    params.AddField(QStringLiteral("DTINIGERAARQXML"), TFieldType::DateTime);
    params.CreateDataSet();
    params.Append();
    params.FieldByName(QStringLiteral("DTINIGERAARQXML"))
        .SetAsDateTime(QDateTime(QDate(2020, 1, 15), QTime(0, 0)));
    params.Post();
    TDataSource source(nullptr, &params);
    TDBDateEditPlus edit;
    edit.SetDataField(&source, QStringLiteral("DTINIGERAARQXML"));
    EXPECT_EQ(edit.GetDate(), QDate(2020, 1, 15));

    edit.selectAll();
    QTest::keyClicks(&edit, QStringLiteral("0102"));
    EXPECT_EQ(params.State(), TDataSetState::Browse); // still being typed
    QTest::keyClicks(&edit, QStringLiteral("2021"));
    EXPECT_EQ(params.State(), TDataSetState::Edit);
    params.Post();
    EXPECT_EQ(params.FieldByName(QStringLiteral("DTINIGERAARQXML")).AsDateTime().date(), QDate(2021, 2, 1));
}

TEST(SetChildEnabled, SwitchesTheDirectChildrenOnly)
{
    QGroupBox group;
    auto *all = new QRadioButton(QStringLiteral("Todas"), &group);
    auto *list = new QRadioButton(QStringLiteral("Lista"), &group);
    auto *inner = new QWidget(&group);
    auto *deep = new QCheckBox(inner);
    deep->setEnabled(false);
    SetChildEnabled(&group, false);
    EXPECT_TRUE(group.isEnabled());
    EXPECT_FALSE(all->isEnabled());
    EXPECT_FALSE(list->isEnabled());
    SetChildEnabled(&group, true);
    EXPECT_TRUE(list->isEnabled());
    EXPECT_TRUE(inner->isEnabled());
    EXPECT_FALSE(deep->isEnabled());
}
