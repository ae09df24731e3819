// Check digits and number texts: a wrong digit here makes every generated document invalid at the tax
// authority, so each rule is tested against published examples and against its own validator.

#include "server/docgen/docgen.h"
#include "server/docgen/fiscalcodes.h"
#include "host/chavefiscal.h"

#include <gtest/gtest.h>

using namespace vnd::docgen;

TEST(DocgenCodes, CheckDigitsMatchPublishedExamples)
{
    // Keys, CNPJ and CPF taken from public sample documents and registries.
    EXPECT_TRUE(IsValidAccessKey(QStringLiteral("53151158716523000119650010000001752000001754")));
    EXPECT_TRUE(IsValidAccessKey(QStringLiteral("35150708723218000186599000040190000215133408")));
    EXPECT_FALSE(IsValidAccessKey(QStringLiteral("53151158716523000119650010000001752000001755")));
    EXPECT_FALSE(IsValidAccessKey(QStringLiteral("5315115871652300011965001000000175200000175")));
    EXPECT_EQ(CnpjWithDigits(QStringLiteral("087232180001")), QStringLiteral("08723218000186"));
    EXPECT_EQ(CnpjWithDigits(QStringLiteral("587165230001")), QStringLiteral("58716523000119"));
    EXPECT_TRUE(IsValidCnpj(QStringLiteral("16716114000172")));
    EXPECT_FALSE(IsValidCnpj(QStringLiteral("16716114000173")));
    EXPECT_EQ(CpfWithDigits(QStringLiteral("603622195")), QStringLiteral("60362219591"));
    EXPECT_FALSE(IsValidCpf(QStringLiteral("11111111111")));
    EXPECT_TRUE(IsValidSpIe(QStringLiteral("110042490114")));
    EXPECT_FALSE(IsValidSpIe(QStringLiteral("110042490115")));
    EXPECT_EQ(Ean13WithDigit(QStringLiteral("789432172201")), QStringLiteral("7894321722016"));
}

TEST(DocgenCodes, AlphanumericCnpjAndKeysFollowThe2026Rule)
{
    // The tax authority's published example of an alphanumeric CNPJ: 12.ABC.345/01DE-35.
    EXPECT_EQ(CnpjWithDigits(QStringLiteral("12ABC34501DE")), QStringLiteral("12ABC34501DE35"));
    EXPECT_TRUE(vnd::CnpjValido(QStringLiteral("12ABC34501DE35")));
    EXPECT_FALSE(vnd::CnpjValido(QStringLiteral("12ABC34501DE36")));
    // What the schema refuses: lower case, letters in the check digits, other lengths, other characters.
    for (const char *bad : {"12abc34501de35", "12ABC34501DEA5", "12ABC34501DE3", "12ABC-4501DE35", "12ÁBC34501DE35"})
        EXPECT_FALSE(vnd::CnpjNoFormato(QString::fromUtf8(bad))) << bad;
    EXPECT_TRUE(vnd::CnpjNoFormato(QStringLiteral("12ABC34501DE35")));

    const QString key = NfeAccessKey(35, QDate(2026, 8, 3), QStringLiteral("12ABC34501DE35"), 65, 1, 77, 1,
                                     QStringLiteral("12345678"));
    EXPECT_TRUE(vnd::ChaveAcessoValida(key)) << key.toStdString();
    QString wrong = key;
    wrong[43] = QChar(u'0' + (key.at(43).unicode() - u'0' + 1) % 10);
    EXPECT_FALSE(vnd::ChaveAcessoValida(wrong));
    // Letters only where the CNPJ's root and branch stand.
    QString misplaced = key;
    misplaced[2] = QLatin1Char('A');
    EXPECT_FALSE(vnd::ChaveAcessoNoFormato(misplaced));
    misplaced = key;
    misplaced[18] = QLatin1Char('A');
    EXPECT_FALSE(vnd::ChaveAcessoNoFormato(misplaced));
    // Keys of digits only keep their digit.
    EXPECT_TRUE(vnd::ChaveAcessoValida(QStringLiteral("53151158716523000119650010000001752000001754")));
}

TEST(DocgenCodes, KeysCarryTheirParts)
{
    const QString nfe = NfeAccessKey(35, QDate(2016, 5, 10), QStringLiteral("08723218000186"), 65, 1, 123, 9,
                                     QStringLiteral("12345678"));
    EXPECT_EQ(nfe.size(), 44);
    EXPECT_TRUE(nfe.startsWith(QStringLiteral("35160508723218000186650010000001239")));
    EXPECT_TRUE(IsValidAccessKey(nfe));
    const QString sat = SatAccessKey(35, QDate(2016, 5, 10), QStringLiteral("08723218000186"),
                                     QStringLiteral("900004019"), 21, QStringLiteral("513340"));
    EXPECT_EQ(sat.mid(20, 2), QStringLiteral("59"));
    EXPECT_EQ(sat.mid(22, 9), QStringLiteral("900004019"));
    EXPECT_EQ(sat.mid(31, 6), QStringLiteral("000021"));
    EXPECT_TRUE(IsValidAccessKey(sat));
}

TEST(DocgenCodes, NumberAndDateTexts)
{
    EXPECT_EQ(Money(0), QStringLiteral("0.00"));
    EXPECT_EQ(Money(5), QStringLiteral("0.05"));
    EXPECT_EQ(Money(123456), QStringLiteral("1234.56"));
    EXPECT_EQ(MoneyBr(1250), QStringLiteral("12,50"));
    EXPECT_EQ(Quantity(4560), QStringLiteral("0.4560"));
    EXPECT_EQ(Rate(1800), QStringLiteral("18.00"));
    EXPECT_EQ(RateFraction(165), QStringLiteral("0.0165"));
    EXPECT_EQ(RoundDiv(5, 10), 1);
    EXPECT_EQ(RoundDiv(4, 10), 0);
    EXPECT_EQ(FiscalDateTime(QDateTime(QDate(2016, 5, 10), QTime(14, 3, 22))),
              QStringLiteral("2016-05-10T14:03:22-03:00"));
}

TEST(DocgenCodes, MasterDataIsValidAndUnique)
{
    MasterOptions options;
    options.companies = 3;
    options.branchesPerCompany = 3;
    Generator gen(11, options);
    ASSERT_EQ(gen.Branches().size(), 9);
    QSet<QString> cnpjs, serials, registerKeys;
    for (const Branch &b : gen.Branches()) {
        EXPECT_EQ(b.code.size(), 4);
        EXPECT_EQ(b.companyCode.size(), 2);
        EXPECT_TRUE(IsValidCnpj(b.cnpj)) << b.cnpj.toStdString();
        if (b.ufCode == 35) {
            EXPECT_TRUE(IsValidSpIe(b.ie)) << b.ie.toStdString();
        }
        EXPECT_EQ(b.cityCode.left(2), QString::number(b.ufCode));
        cnpjs.insert(b.cnpj);
    }
    EXPECT_EQ(cnpjs.size(), 9);
    EXPECT_TRUE(gen.Branches().first().IssuesSat());
    for (const CashRegister &r : gen.CashRegisters()) {
        EXPECT_EQ(r.code.size(), 3);
        EXPECT_EQ(r.satSerial.isEmpty(), !gen.BranchByCode(r.branchCode).IssuesSat());
        if (!r.satSerial.isEmpty())
            serials.insert(r.satSerial);
        registerKeys.insert(r.branchCode + r.code + QString::number(r.nfceSeries));
    }
    EXPECT_EQ(registerKeys.size(), gen.CashRegisters().size());
    for (const Customer &c : gen.Customers()) {
        EXPECT_TRUE(IsValidCpf(c.cpf));
        EXPECT_LE(c.code.size(), 21);
    }
    for (const Product &p : gen.Products()) {
        EXPECT_EQ(p.ncm.size(), 8);
        EXPECT_GT(p.price, 0);
        if (!p.ean.isEmpty()) {
            EXPECT_TRUE(IsValidEan13(p.ean));
        }
    }
    EXPECT_EQ(gen.ReceiptTypes().first().name, QStringLiteral("Dinheiro"));
    EXPECT_EQ(gen.ReceiptTypes().at(2).name, QStringLiteral("Cartão de Crédito"));
}
