#include "server/docgen/fiscalcodes.h"

#include "host/chavefiscal.h"

namespace vnd::docgen
{

static int Digit(const QString &text, int i)
{
    return text.at(i).unicode() - u'0';
}

static bool AllDigits(const QString &text, int length)
{
    if (text.size() != length)
        return false;
    for (QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

static QString Pad(qint64 value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QChar(u'0'));
}

int AccessKeyDigit(const QString &body43)
{
    return DigitoChaveAcesso(body43);
}

bool IsValidAccessKey(const QString &key)
{
    return ChaveAcessoValida(key);
}

QString NfeAccessKey(int ufCode, const QDate &issued, const QString &cnpj, int model, int series, int number,
                     int emissionType, const QString &cNF)
{
    const QString body = Pad(ufCode, 2) + issued.toString(QStringLiteral("yyMM")) + cnpj + Pad(model, 2) +
                         Pad(series, 3) + Pad(number, 9) + QString::number(emissionType) + cNF;
    return body + QString::number(AccessKeyDigit(body));
}

QString SatAccessKey(int ufCode, const QDate &issued, const QString &cnpj, const QString &satSerial,
                     int number, const QString &cNF)
{
    const QString body = Pad(ufCode, 2) + issued.toString(QStringLiteral("yyMM")) + cnpj +
                         QStringLiteral("59") + satSerial + Pad(number, 6) + cNF;
    return body + QString::number(AccessKeyDigit(body));
}

// Weighted sum check digit shared by CNPJ and CPF: rest < 2 gives 0, else 11 - rest.
static int WeightedDigit(const QString &digits, const QList<int> &weights)
{
    int sum = 0;
    for (int i = 0; i < digits.size(); ++i)
        sum += Digit(digits, i) * weights.at(i);
    const int rest = sum % 11;
    return rest < 2 ? 0 : 11 - rest;
}

QString CnpjWithDigits(const QString &twelve)
{
    return CnpjComDigitos(twelve);
}

bool IsValidCnpj(const QString &cnpj)
{
    return CnpjValido(cnpj);
}

QString CpfWithDigits(const QString &nine)
{
    QString cpf = nine;
    cpf += QString::number(WeightedDigit(cpf, {10, 9, 8, 7, 6, 5, 4, 3, 2}));
    cpf += QString::number(WeightedDigit(cpf, {11, 10, 9, 8, 7, 6, 5, 4, 3, 2}));
    return cpf;
}

bool IsValidCpf(const QString &cpf)
{
    if (!AllDigits(cpf, 11) || cpf == QString(11, cpf.at(0)))
        return false;
    return CpfWithDigits(cpf.left(9)) == cpf;
}

// São Paulo: the 9th digit checks the first 8 (weights 1,3,4,5,6,7,8,10), the 12th the first 11
// (weights 3,2,10,...,2); each is the last digit of the rest of the division by 11.
static int SpIeDigit(const QString &digits, const QList<int> &weights)
{
    int sum = 0;
    for (int i = 0; i < weights.size(); ++i)
        sum += Digit(digits, i) * weights.at(i);
    return sum % 11 % 10;
}

QString SpIeWithDigits(const QString &ten)
{
    QString ie = ten.left(8);
    ie += QString::number(SpIeDigit(ie, {1, 3, 4, 5, 6, 7, 8, 10}));
    ie += ten.mid(8, 2);
    ie += QString::number(SpIeDigit(ie, {3, 2, 10, 9, 8, 7, 6, 5, 4, 3, 2}));
    return ie;
}

bool IsValidSpIe(const QString &ie)
{
    return AllDigits(ie, 12) && SpIeWithDigits(ie.left(8) + ie.mid(9, 2)) == ie;
}

QString Ean13WithDigit(const QString &twelve)
{
    int sum = 0;
    for (int i = 0; i < 12; ++i)
        sum += Digit(twelve, i) * (i % 2 == 0 ? 1 : 3);
    return twelve + QString::number((10 - sum % 10) % 10);
}

bool IsValidEan13(const QString &ean)
{
    return AllDigits(ean, 13) && Ean13WithDigit(ean.left(12)) == ean;
}

qint64 RoundDiv(qint64 num, qint64 den)
{
    return (num * 2 + den) / (den * 2);
}

static QString Fixed(qint64 value, int decimals, QChar separator)
{
    qint64 scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    const QString sign = value < 0 ? QStringLiteral("-") : QString();
    const qint64 magnitude = value < 0 ? -value : value;
    return sign + QString::number(magnitude / scale) + separator + Pad(magnitude % scale, decimals);
}

QString Money(qint64 cents)
{
    return Fixed(cents, 2, u'.');
}
QString MoneyBr(qint64 cents)
{
    return Fixed(cents, 2, u',');
}
QString Quantity(qint64 tenThousandths)
{
    return Fixed(tenThousandths, 4, u'.');
}
QString Rate(int hundredths)
{
    return Fixed(hundredths, 2, u'.');
}
QString RateFraction(int hundredths)
{
    return Fixed(hundredths, 4, u'.');
}

QString FiscalDateTime(const QDateTime &when)
{
    return when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QStringLiteral("-03:00");
}

} // namespace vnd::docgen
