#pragma once
// The forms of the fiscal identifiers as the layouts in force take them. Since July 2026 a CNPJ may hold
// upper-case letters in its first twelve places (its two check digits stay digits), and so may the
// CNPJ part of an access key. Each character counts as its code minus 48 in the check digits ('0'..'9'
// are 0..9, 'A' is 17, 'Z' is 42), which leaves the digits-only identifiers as they always were.

#include <QString>

namespace vnd {

// [0-9A-Z]{12}[0-9]{2}: the pattern of TCnpj in the NF-e 4.00 package, check digits not verified.
bool CnpjNoFormato(const QString &cnpj);
// The pattern and both check digits.
bool CnpjValido(const QString &cnpj);
// The twelve first characters followed by their two check digits.
QString CnpjComDigitos(const QString &doze);

// [0-9]{6}[0-9A-Z]{12}[0-9]{26}: an NF-e/NFC-e access key (TChNFe), check digit not verified.
bool ChaveAcessoNoFormato(const QString &chave);
// The pattern and the check digit (modulo 11 over the first 43 characters).
bool ChaveAcessoValida(const QString &chave);
// The check digit of the first 43 characters of a key.
int DigitoChaveAcesso(const QString &corpo43);

} // namespace vnd
