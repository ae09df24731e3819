// Values read from fiscal documents: the decimal rule, NF-e and SAT dates, and what a bad value says.
#include "host/errors.h"
#include "import/xmlvalues.h"

#include <gtest/gtest.h>

using namespace vnd;

namespace {

IXMLNode Load(const char *xml)
{
    static IXMLDocument doc;
    doc = TXMLDocument::Create();
    doc->LoadFromXML(QString::fromUtf8(xml));
    return doc->DocumentElement();
}

QString ErrorOf(const std::function<void()> &fn)
{
    try {
        fn();
    } catch (const Exception &e) {
        return e.Message();
    }
    return {};
}

} // namespace

TEST(ImportValues, DecimalRuleAcceptsPointAndCommaAndNamesTheElementOnFailure)
{
    const IXMLNode prod = Load("<prod><qCom>12.50</qCom><vUnCom>12,50</vUnCom><vDesc>1.234,50</vDesc>"
                               "<vOutro></vOutro><vRatAcr>abc</vRatAcr></prod>");
    EXPECT_DOUBLE_EQ(DecimalFilho(prod, "qCom"), 12.5);
    EXPECT_DOUBLE_EQ(DecimalFilho(prod, "vUnCom"), 12.5);
    EXPECT_EQ(ErrorOf([&] { DecimalFilho(prod, "vDesc"); }), QStringLiteral("Valor numérico inválido em prod/vDesc: \"1.234,50\""));
    EXPECT_EQ(ErrorOf([&] { DecimalFilho(prod, "vOutro"); }), QStringLiteral("Valor numérico inválido em prod/vOutro: \"\""));
    EXPECT_THROW(DecimalFilho(prod, "vRatAcr"), EConvertError);
    // A missing element is empty text: an error for a required number, 0 for an optional one.
    EXPECT_THROW(DecimalFilho(prod, "vProd"), EConvertError);
    EXPECT_DOUBLE_EQ(DecimalOpcional(prod, "vRatDesc"), 0.0);
    EXPECT_THROW(DecimalOpcional(prod, "vRatAcr"), EConvertError);
}

TEST(ImportValues, ElementWithMarkupInsteadOfTextNamesTheElement)
{
    const IXMLNode ide = Load("<ide><nNF><b>1</b></nNF></ide>");
    const QString message = ErrorOf([&] { TextoFilho(ide, "nNF"); });
    EXPECT_TRUE(message.startsWith(QStringLiteral("Elemento nNF de ide:"))) << message.toStdString();
}

TEST(ImportValues, NfeDateDropsTheOffsetAndKeepsTheTime)
{
    EXPECT_EQ(DataHoraNfe(QStringLiteral("2015-03-07T18:45:10-03:00"), "dhEmi"),
              QDateTime(QDate(2015, 3, 7), QTime(18, 45, 10)));
    EXPECT_EQ(DataHoraNfe(QStringLiteral("2015-03-07T18:45:10+01:00"), "dhEmi"),
              QDateTime(QDate(2015, 3, 7), QTime(18, 45, 10)));
    EXPECT_EQ(DataHoraNfe(QStringLiteral("2016-02-29T00:00:00"), "dhEmi"), QDateTime(QDate(2016, 2, 29), QTime(0, 0)));
    for (const char *bad : {"", "2015-03-07", "2015-03-07 18:45:10", "2015-02-30T10:00:00-03:00",
                            "2015-3-7T18:45:10-03:00", "07/03/2015 18:45:10", "2015-03-07T25:00:00"}) {
        const QString message = ErrorOf([&] { DataHoraNfe(QString::fromLatin1(bad), "dhRecbto"); });
        EXPECT_EQ(message, QStringLiteral("Data inválida em dhRecbto: \"%1\"").arg(QString::fromLatin1(bad))) << bad;
    }
}

TEST(ImportValues, SatDatesNeedTheirFullWidth)
{
    EXPECT_EQ(DataHoraSat(QStringLiteral("20150307"), QStringLiteral("184510")),
              QDateTime(QDate(2015, 3, 7), QTime(18, 45, 10)));
    EXPECT_EQ(DataSat(QStringLiteral("20151231")), QDateTime(QDate(2015, 12, 31), QTime(0, 0)));
    // A short date must not be read as another day ("2015037" is not the 7th).
    EXPECT_THROW(DataHoraSat(QStringLiteral("2015037"), QStringLiteral("184510")), EConvertError);
    EXPECT_THROW(DataHoraSat(QStringLiteral("20150307"), QStringLiteral("1845")), EConvertError);
    EXPECT_THROW(DataHoraSat(QString(), QString()), EConvertError);
    EXPECT_THROW(DataHoraSat(QStringLiteral("20150230"), QStringLiteral("120000")), EConvertError);
    EXPECT_THROW(DataSat(QStringLiteral("2015-03-07")), EConvertError);
    EXPECT_EQ(ErrorOf([] { DataSat(QStringLiteral("x")); }), QStringLiteral("Data inválida em dEmi: \"x\""));
}
