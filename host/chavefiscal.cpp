#include "host/chavefiscal.h"

namespace vnd {

namespace {

bool Digito(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }
bool DigitoOuMaiuscula(QChar c) { return Digito(c) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z')); }

// The value a character has in a check digit.
int Valor(QChar c) { return c.unicode() - u'0'; }

// Weights 2..9 from the right, as CNPJ and access keys use them; rest below 2 gives 0.
int DigitoModulo11(const QString &texto)
{
    int soma = 0, peso = 2;
    for (qsizetype i = texto.size() - 1; i >= 0; --i) {
        soma += Valor(texto.at(i)) * peso;
        peso = peso == 9 ? 2 : peso + 1;
    }
    const int resto = soma % 11;
    return resto < 2 ? 0 : 11 - resto;
}

bool Formato(const QString &texto, qsizetype de, qsizetype ate, bool letras)
{
    for (qsizetype i = de; i < ate; ++i)
        if (!(letras ? DigitoOuMaiuscula(texto.at(i)) : Digito(texto.at(i))))
            return false;
    return true;
}

} // namespace

bool CnpjNoFormato(const QString &cnpj)
{
    return cnpj.size() == 14 && Formato(cnpj, 0, 12, true) && Formato(cnpj, 12, 14, false);
}

QString CnpjComDigitos(const QString &doze)
{
    QString cnpj = doze;
    cnpj += QChar(u'0' + DigitoModulo11(cnpj));
    cnpj += QChar(u'0' + DigitoModulo11(cnpj));
    return cnpj;
}

bool CnpjValido(const QString &cnpj) { return CnpjNoFormato(cnpj) && CnpjComDigitos(cnpj.left(12)) == cnpj; }

bool ChaveAcessoNoFormato(const QString &chave)
{
    return chave.size() == 44 && Formato(chave, 0, 6, false) && Formato(chave, 6, 18, true) &&
           Formato(chave, 18, 44, false);
}

int DigitoChaveAcesso(const QString &corpo43) { return DigitoModulo11(corpo43); }

bool ChaveAcessoValida(const QString &chave)
{
    return ChaveAcessoNoFormato(chave) && DigitoChaveAcesso(chave.left(43)) == Valor(chave.at(43));
}

} // namespace vnd
