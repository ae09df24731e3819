#pragma once
// Check digits and number formats of Brazilian fiscal documents: access keys, CNPJ, CPF, the São Paulo
// state registration, GTIN-13, and the decimal and date-time texts of the XML layouts.

#include <QDate>
#include <QDateTime>
#include <QString>

namespace vnd::docgen
{

// Modulo-11 check digit of an access key body (weights 2 to 9 from the right; 0 when 11 - rest >= 10).
int AccessKeyDigit(const QString &body43);
// True for 44 digits whose last one is the check digit of the other 43.
bool IsValidAccessKey(const QString &key);
// NFC-e/NF-e key: cUF, AAMM, CNPJ, model, series (3), number (9), emission type, cNF (8), check digit.
QString NfeAccessKey(int ufCode, const QDate &issued, const QString &cnpj, int model, int series, int number,
                     int emissionType, const QString &cNF);
// CF-e SAT key: cUF, AAMM, CNPJ, model 59, SAT serial (9), nCFe (6), cNF (6), check digit.
QString SatAccessKey(int ufCode, const QDate &issued, const QString &cnpj, const QString &satSerial,
                     int number, const QString &cNF);

// The 14-digit CNPJ made of 12 digits and their two check digits.
QString CnpjWithDigits(const QString &twelve);
bool IsValidCnpj(const QString &cnpj);
// The 11-digit CPF made of 9 digits and their two check digits.
QString CpfWithDigits(const QString &nine);
bool IsValidCpf(const QString &cpf);
// The 12-digit São Paulo state registration made of 10 digits (the 9th and 12th are check digits).
QString SpIeWithDigits(const QString &ten);
bool IsValidSpIe(const QString &ie);
// The GTIN-13 made of 12 digits and its check digit.
QString Ean13WithDigit(const QString &twelve);
bool IsValidEan13(const QString &ean);

// num / den rounded half up, for non-negative values.
qint64 RoundDiv(qint64 num, qint64 den);
// Cents as "12.50".
QString Money(qint64 cents);
// Cents as "12,50", the way receipts print them.
QString MoneyBr(qint64 cents);
// Ten-thousandths as "1.2500".
QString Quantity(qint64 tenThousandths);
// Hundredths of a percent as "18.00".
QString Rate(int hundredths);
// Hundredths of a percent as the fraction "0.0165" (SAT pPIS, pCOFINS).
QString RateFraction(int hundredths);
// The layouts' date-time: yyyy-MM-ddTHH:mm:ss with the fixed offset -03:00.
QString FiscalDateTime(const QDateTime &when);

} // namespace vnd::docgen
