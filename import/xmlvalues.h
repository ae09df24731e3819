#pragma once
// Values the readers take from fiscal documents: element texts, numbers by the decimal reading rule
// and the dates of NF-e and SAT documents. Every failure names the element and the text it found.

#include "xml/xmldoc.h"

#include <QDateTime>
#include <QString>

namespace vnd {

// Text of the child element (the empty text when it is missing: the lookup creates it empty).
QString TextoFilho(const IXMLNode &parent, const char *name);
// Text of an attribute, empty when missing.
QString Atributo(const IXMLNode &element, const char *name);
// The child's text read by the decimal rule ("." and "," both decimal; empty or malformed is an error).
double DecimalFilho(const IXMLNode &parent, const char *name);
// The child's value by the decimal rule when the child exists, else 0.
double DecimalOpcional(const IXMLNode &parent, const char *name);
// Date-time of an NF-e text "yyyy-mm-ddThh:mm:ss" plus offset; the offset is dropped, the time kept.
QDateTime DataHoraNfe(const QString &text, const char *campo);
// Date-time of a SAT coupon: dEmi "yyyymmdd" and hEmi "hhmmss".
QDateTime DataHoraSat(const QString &dEmi, const QString &hEmi);
// Date of a SAT cancellation (dEmi "yyyymmdd"), at midnight.
QDateTime DataSat(const QString &dEmi);

} // namespace vnd
