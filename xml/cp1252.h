#pragma once
// The Windows-1252 code page, from a table: Qt's codecs may lack it, and its use here (the system code
// page of the UTF-8 routines, declared encodings of XML files) needs to be exact. The five bytes that
// Windows-1252 leaves undefined (81 8D 8F 90 9D) map to the code points of the same value, as Windows
// itself converts them, so every byte survives a round trip.

#include <QByteArray>
#include <QString>

namespace vnd
{
// Wide text of Windows-1252 bytes.
QString Cp1252ToUnicode(const char *bytes, qsizetype size);
inline QString Cp1252ToUnicode(const QByteArray &bytes)
{
    return Cp1252ToUnicode(bytes.constData(), bytes.size());
}
// Windows-1252 bytes of wide text; a character the code page lacks becomes "?".
QByteArray UnicodeToCp1252(const QString &text);
} // namespace vnd
