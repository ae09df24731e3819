#include "import/xmlvalues.h"

#include "host/errors.h"
#include "host/hostutil.h"

namespace vnd {

namespace {

bool Digitos(const QString &text, int from, int count)
{
    if (text.size() < from + count)
        return false;
    for (int i = from; i < from + count; ++i) {
        if (!text.at(i).isDigit() || text.at(i).unicode() > 0x7F)
            return false;
    }
    return true;
}

// The rebuilt "dd/MM/yyyy hh:mm:ss" under the regional date format; the pieces were checked to be
// digits, so only impossible dates (31/02) are left for the conversion to refuse.
QDateTime Converte(const QString &built, const QString &campo, const QString &original)
{
    try {
        return StrToDateTimeBr(built);
    } catch (const EConvertError &) {
        throw EConvertError(QStringLiteral("Data inválida em %1: \"%2\"").arg(campo, original));
    }
}

} // namespace

QString TextoFilho(const IXMLNode &parent, const char *name)
{
    const IXMLNode child = parent->ChildNodes()->Nodes(name);
    try {
        return child->Text();
    } catch (const Exception &e) {
        throw Exception(QStringLiteral("Elemento %1 de %2: %3")
                            .arg(QLatin1String(name), parent->NodeName(), e.Message()));
    }
}

QString Atributo(const IXMLNode &element, const char *name)
{
    const IXMLNode attr = element->AttributeNodes()->FindNode(name);
    return attr ? attr->Text() : QString();
}

double DecimalFilho(const IXMLNode &parent, const char *name)
{
    const QString text = TextoFilho(parent, name);
    try {
        return StrToFloatBr(text);
    } catch (const EConvertError &) {
        throw EConvertError(QStringLiteral("Valor numérico inválido em %1/%2: \"%3\"")
                                .arg(parent->NodeName(), QLatin1String(name), text));
    }
}

double DecimalOpcional(const IXMLNode &parent, const char *name)
{
    if (!parent->ChildNodes()->FindNode(name))
        return 0;
    return DecimalFilho(parent, name);
}

QDateTime DataHoraNfe(const QString &text, const char *campo)
{
    const QString c = QString::fromLatin1(campo);
    const bool forma = Digitos(text, 0, 4) && text.size() >= 19 && text.at(4) == QLatin1Char('-') &&
                       Digitos(text, 5, 2) && text.at(7) == QLatin1Char('-') && Digitos(text, 8, 2) &&
                       text.at(10) == QLatin1Char('T') && Digitos(text, 11, 2) && text.at(13) == QLatin1Char(':') &&
                       Digitos(text, 14, 2) && text.at(16) == QLatin1Char(':') && Digitos(text, 17, 2);
    if (!forma)
        throw EConvertError(QStringLiteral("Data inválida em %1: \"%2\"").arg(c, text));
    const QString built = text.mid(8, 2) + QLatin1Char('/') + text.mid(5, 2) + QLatin1Char('/') + text.left(4) +
                          QLatin1Char(' ') + text.mid(11, 8);
    return Converte(built, c, text);
}

QDateTime DataHoraSat(const QString &dEmi, const QString &hEmi)
{
    if (!Digitos(dEmi, 0, 8) || dEmi.size() != 8)
        throw EConvertError(QStringLiteral("Data inválida em dEmi: \"%1\"").arg(dEmi));
    if (!Digitos(hEmi, 0, 6) || hEmi.size() != 6)
        throw EConvertError(QStringLiteral("Hora inválida em hEmi: \"%1\"").arg(hEmi));
    const QString built = dEmi.mid(6, 2) + QLatin1Char('/') + dEmi.mid(4, 2) + QLatin1Char('/') + dEmi.left(4) +
                          QLatin1Char(' ') + hEmi.left(2) + QLatin1Char(':') + hEmi.mid(2, 2) + QLatin1Char(':') +
                          hEmi.mid(4, 2);
    return Converte(built, QStringLiteral("dEmi/hEmi"), dEmi + QLatin1Char(' ') + hEmi);
}

QDateTime DataSat(const QString &dEmi)
{
    if (!Digitos(dEmi, 0, 8) || dEmi.size() != 8)
        throw EConvertError(QStringLiteral("Data inválida em dEmi: \"%1\"").arg(dEmi));
    return Converte(dEmi.mid(6, 2) + QLatin1Char('/') + dEmi.mid(4, 2) + QLatin1Char('/') + dEmi.left(4),
                    QStringLiteral("dEmi"), dEmi);
}

} // namespace vnd
