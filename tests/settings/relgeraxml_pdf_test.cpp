// The generation report as a PDF: the figures of a seeded database read back with pdftotext, the page
// heading on every page, the Brazilian formats, and a picture of the first page for a look.
#include "host/query.h"
#include "host/recordset.h"
#include "host/ui/reportdialog.h"
#include "host/ui/reportpdf.h"
#include "host/ui/reportpreview.h"
#include "settings/relgeraxml.h"
#include "tests/settings/settings_testutil.h"
#include "tests/support/testutil.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QPrinter>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace settingstest;

namespace
{

QString Utf8(const char *s)
{
    return QString::fromUtf8(s);
}

QString Inteiro(qint64 n)
{
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(n);
}
QString Dinheiro(double v)
{
    return QLocale(QLocale::Portuguese, QLocale::Brazil).toString(v, 'f', 2);
}

// The figures a subtotal or total line ends with, in column order.
QStringList Numeros(const Soma &s)
{
    return {Inteiro(s.nfceAut),  Inteiro(s.nfceCanc), Inteiro(s.satAut), Inteiro(s.satCanc),
            Inteiro(s.Vendas()), Dinheiro(s.vrAut),   Dinheiro(s.vrCanc)};
}

// The words of the first line of text that starts with the caption, after it.
QStringList Linha(const QString &texto, const QString &legenda)
{
    for (const QString &linha : texto.split(QLatin1Char('\n'))) {
        const QString l = linha.trimmed();
        if (l.startsWith(legenda))
            return l.mid(legenda.size())
                .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    }
    return {};
}

TEST(RelGeraXmlPdf, ValuesAreWrittenInTheBrazilianFormats)
{
    using vnd::TReportFormat;
    EXPECT_EQ(vnd::FormatReportValue(1234567.5, TReportFormat::Money), QStringLiteral("1.234.567,50"));
    EXPECT_EQ(vnd::FormatReportValue(QVariant(), TReportFormat::Money), QStringLiteral("0,00"));
    EXPECT_EQ(vnd::FormatReportValue(qint64(12345), TReportFormat::Integer), QStringLiteral("12.345"));
    EXPECT_EQ(vnd::FormatReportValue(QStringLiteral("2024-03-05"), TReportFormat::Date),
              QStringLiteral("05/03/2024"));
    EXPECT_EQ(vnd::FormatReportValue(QDateTime(QDate(2024, 12, 31), QTime(23, 59)), TReportFormat::Date),
              QStringLiteral("31/12/2024"));
}

// The report of a filter written as a PDF; its text as pdftotext lays it out.
QString TextoPdf(const QString &filial, const QString &caixa, const QString &pdf, int *paginas = nullptr)
{
    TClientDataSet filtro;
    Filtro(filtro, filial, caixa, kInicio, kFim);
    TReportDialog dialogo;
    dialogo.ReportCode = vnd::CodRelGeraXml();
    dialogo.Footer = Utf8("Geração do Arquivo XML (NFC-e/Sat) - Relatório de Geração do Arquivo XML");
    dialogo.OnBeforeGetQueryParams = [&](TADOIBQuery &p) { vnd::PreencheParametrosRelGeraXml(filtro, p); };
    const TReportResult r =
        dialogo.Run(vnd::RelGeraXmlFilialCaixaDia(), QDateTime(QDate(2024, 3, 8), QTime(9, 30)));
    vnd::WriteReportPdf(r.document, pdf);
    if (paginas)
        *paginas = int(r.document.pages.size());
    return QString::fromUtf8(
        Roda(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")}));
}

// On each engine the run has: the figures of the PDF against the sales added up apart from the report's
// query, for every branch and for one branch and register.
class RelGeraXmlPdfBanco : public ::testing::TestWithParam<vndtest::ServerFixture::Engine>
{
};

TEST_P(RelGeraXmlPdfBanco, TheTextOfThePdfShowsTheFiguresOfTheDatabase)
{
    vndtest::ServerFixture *server = Servidor(GetParam());
    if (!server)
        GTEST_SKIP() << "no PostgreSQL server for this run (VND_TEST_PG)";
    vnd::OpenHostDatabase(server->DbUrl());
    vnd::RegistraRelatoriosVnd044();
    QTemporaryDir pasta;
    const QString pdf = pasta.filePath(QStringLiteral("relatorio.pdf"));
    int paginas = 0;
    const QString texto = TextoPdf(QStringLiteral("T"), QStringLiteral("T"), pdf, &paginas);
    EXPECT_EQ(texto.count(Utf8("Geração do Arquivo XML por Filial/Caixa/Dia")), paginas)
        << "the heading on every page";
    EXPECT_EQ(texto.count(QStringLiteral("Emitido em 08/03/2024 09:30")), paginas);
    EXPECT_TRUE(texto.contains(
        QRegularExpression(Utf8("Período: 01/03/2024 a 07/03/2024\\s+Filiais: Todas\\s+Caixas: Todos"))))
        << texto.toStdString();
    EXPECT_TRUE(texto.contains(QStringLiteral("Relatório Vnd044")));
    EXPECT_TRUE(texto.contains(Utf8("Página %1 de %1").arg(paginas)));
    EXPECT_TRUE(texto.contains(QStringLiteral("Vendas por dia")));

    const QMap<QString, Soma> somas = Somas(*server, kInicio, kFim);
    EXPECT_EQ(Linha(texto, QStringLiteral("Total geral")), Numeros(somas[QStringLiteral("||")]))
        << texto.toStdString();
    QSqlQuery filiais(server->Database());
    ASSERT_TRUE(filiais.exec(QStringLiteral("SELECT CDFILIAL, NMFILIAL FROM FILIAL ORDER BY CDFILIAL")));
    int comVendas = 0;
    while (filiais.next()) {
        const QString filial = filiais.value(0).toString();
        if (!somas.contains(filial + QStringLiteral("||")))
            continue;
        ++comVendas;
        EXPECT_TRUE(
            texto.contains(QStringLiteral("Filial %1 - %2").arg(filial, filiais.value(1).toString())));
        EXPECT_EQ(Linha(texto, QStringLiteral("Subtotal da filial ") + filial),
                  Numeros(somas[filial + QStringLiteral("||")]))
            << filial.toStdString();
    }
    EXPECT_GE(comVendas, 2);
    // Each day's row: the register, the date and its figures.
    for (auto it = somas.cbegin(); it != somas.cend(); ++it) {
        const QStringList partes = it.key().split(QLatin1Char('|'));
        if (partes[2].isEmpty())
            continue;
        const QString dia = QDate::fromString(partes[2], Qt::ISODate).toString(QStringLiteral("dd/MM/yyyy"));
        EXPECT_TRUE(texto.contains(
            QRegularExpression(QStringLiteral("\\b%1\\s+%2\\s+%3\\n")
                                   .arg(partes[1], dia, Numeros(it.value()).join(QStringLiteral("\\s+"))))))
            << it.key().toStdString();
    }

    const QString um = TextoPdf(QStringLiteral("_0001_"), QStringLiteral("_0001002_"), pdf);
    EXPECT_TRUE(um.contains(QRegularExpression(QStringLiteral("Filiais: 0001\\s+Caixas: 0001/002"))))
        << um.toStdString();
    EXPECT_EQ(Linha(um, QStringLiteral("Total geral")),
              Numeros(Somas(*server, kInicio, kFim, QStringLiteral("0001"),
                            QStringLiteral("002"))[QStringLiteral("||")]));
    EXPECT_FALSE(um.contains(QStringLiteral("Filial 0002")));

    if (GetParam() != vndtest::ServerFixture::Engine::SQLite)
        return;
    // Pictures of the first page and of the last (the chart's), kept in the build folder to look at.
    TextoPdf(QStringLiteral("T"), QStringLiteral("T"), pdf);
    const QDir destino(qEnvironmentVariable("VND_BINARY_DIR", QStringLiteral(VND_BINARY_DIR)) +
                       QStringLiteral("/tests/settings"));
    for (const int pagina : {1, paginas}) {
        const QString png = destino.filePath(QStringLiteral("relgeraxml-pagina%1").arg(pagina));
        Roda(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QStringLiteral("80"),
                                          QStringLiteral("-f"), QString::number(pagina), QStringLiteral("-l"),
                                          QString::number(pagina), QStringLiteral("-singlefile"), pdf, png});
        EXPECT_GT(QFileInfo(png + QStringLiteral(".png")).size(), 10000) << pagina;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Engines, RelGeraXmlPdfBanco,
    ::testing::Values(vndtest::ServerFixture::Engine::SQLite, vndtest::ServerFixture::Engine::PostgreSQL),
    [](const auto &info) {
        return std::string(info.param == vndtest::ServerFixture::Engine::SQLite ? "SQLite" : "PostgreSQL");
    });

TEST(RelGeraXmlPdf, ALongReportRepeatsItsHeadingsAndKeepsCaptionsWithTheirRows)
{
    vnd::TReportDef def;
    def.code = QStringLiteral("Teste");
    def.name = QStringLiteral("Relatório longo");
    def.layout.columns = {
        {QStringLiteral("DIA"), QStringLiteral("Dia"), 80, vnd::TReportFormat::Date, false},
        {QStringLiteral("VALOR"), QStringLiteral("Valor"), 80, vnd::TReportFormat::Money, true}};
    def.layout.groupField = QStringLiteral("GRUPO");
    def.layout.groupCaptionFields = {QStringLiteral("GRUPO")};
    def.layout.groupCaption = QStringLiteral("Grupo %1");
    def.layout.subtotalCaption = QStringLiteral("Subtotal do grupo %1");
    def.layout.totalCaption = QStringLiteral("Total geral");
    TClientDataSet rows;
    rows.AddField(QStringLiteral("GRUPO"), TFieldType::String, 10);
    rows.AddField(QStringLiteral("DIA"), TFieldType::String, 10);
    rows.AddField(QStringLiteral("VALOR"), TFieldType::Float);
    rows.CreateDataSet();
    for (int i = 0; i < 170; ++i) {
        rows.Append();
        rows.Fields(0).SetAsString(QString::number(i / 40));
        rows.Fields(1).SetAsString(QDate(2024, 1, 1).addDays(i).toString(Qt::ISODate));
        rows.Fields(2).SetAsFloat(0.5);
        rows.Post();
    }
    const vnd::TReportDocument doc = vnd::LayoutReport(def, rows, {});
    ASSERT_GE(doc.pages.size(), 3u);
    for (size_t p = 0; p < doc.pages.size(); ++p) {
        const auto &items = doc.pages[p].items;
        int titulos = 0;
        double fundo = 0;
        QString ultimo;
        for (const vnd::TReportItem &item : items) {
            titulos += item.text == QLatin1String("Valor") ? 1 : 0;
            if (item.kind == vnd::TReportItem::Kind::Text && item.rect.top() < vnd::kReportPageHeight - 48 &&
                item.rect.top() >= fundo) {
                fundo = item.rect.top();
                ultimo = item.text;
            }
            EXPECT_LE(item.rect.bottom(), vnd::kReportPageHeight - 36) << "inside the bottom margin";
        }
        EXPECT_EQ(titulos, 1) << "column titles on page " << p + 1;
        EXPECT_FALSE(ultimo.startsWith(QStringLiteral("Grupo ")))
            << "a caption alone at the foot of page " << p + 1;
    }
    const auto &ultima = doc.pages.back().items;
    const bool total = std::any_of(ultima.begin(), ultima.end(), [](const vnd::TReportItem &i) {
        return i.text == QStringLiteral("85,00");
    });
    EXPECT_TRUE(total) << "170 × 0,50 on the total line";

    // Printing paints every page on the printer's pages (here a PDF printer).
    {
        QTemporaryDir pasta;
        QPrinter impressora(QPrinter::HighResolution);
        impressora.setOutputFormat(QPrinter::PdfFormat);
        impressora.setOutputFileName(pasta.filePath(QStringLiteral("impresso.pdf")));
        vnd::PrintReport(doc, impressora);
        const QByteArray pdf = vndtest::ReadFile(pasta.filePath(QStringLiteral("impresso.pdf")));
        EXPECT_TRUE(pdf.startsWith("%PDF-"));
        const QString texto = QString::fromLatin1(pdf);
        EXPECT_EQ(texto.count(QRegularExpression(QStringLiteral("/Type\\s*/Page[^s]"))), qsizetype(doc.pages.size()));
    }

    // A group that runs over a page break shows its caption again at the top of the next page.
    int continuacoes = 0;
    for (size_t p = 1; p < doc.pages.size(); ++p)
        for (const vnd::TReportItem &item : doc.pages[p].items)
            continuacoes += item.text.endsWith(QString::fromUtf8(" (continuação)")) ? 1 : 0;
    EXPECT_GE(continuacoes, 1);
    for (size_t p = 1; p < doc.pages.size(); ++p) {
        // The first row of each later page belongs to a captioned group: a caption comes before any value.
        double caption = 1e9, value = 1e9;
        for (const vnd::TReportItem &item : doc.pages[p].items) {
            if (item.text.startsWith(QStringLiteral("Grupo ")))
                caption = std::min(caption, item.rect.top());
            if (item.text == QStringLiteral("0,50"))
                value = std::min(value, item.rect.top());
        }
        EXPECT_LT(caption, value) << "page " << p + 1;
    }
}

} // namespace
