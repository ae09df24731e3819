#include "xml/xmlencoding.h"

#include "host/errors.h"
#include "xml/cp1252.h"
#include "xml/xmldoc.h"
#include "xml/xmlinternal.h"

#include <QFile>
#include <cstring>

namespace vnd::xmlimpl
{

qsizetype InvalidUtf8At(const char *text, qsizetype size)
{
    const unsigned char *p = reinterpret_cast<const unsigned char *>(text);
    qsizetype i = 0;
    while (i < size) {
        // Plain ASCII, eight bytes at a time: most of every fiscal document.
        while (i + 8 <= size) {
            uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (word & 0x8080808080808080ULL)
                break;
            i += 8;
        }
        if (i >= size)
            break;
        const unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        int length;
        if (c >= 0xC2 && c <= 0xDF)
            length = 2;
        else if (c >= 0xE0 && c <= 0xEF)
            length = 3;
        else if (c >= 0xF0 && c <= 0xF4)
            length = 4;
        else
            return i;
        if (size - i < length)
            return i;
        const unsigned char second = p[i + 1];
        // Overlong forms, surrogates and code points above U+10FFFF.
        if ((c == 0xE0 && second < 0xA0) || (c == 0xED && second > 0x9F) || (c == 0xF0 && second < 0x90) ||
            (c == 0xF4 && second > 0x8F))
            return i;
        for (int k = 1; k < length; ++k) {
            if ((p[i + k] & 0xC0) != 0x80)
                return i;
        }
        i += length;
    }
    return -1;
}

} // namespace vnd::xmlimpl

namespace vnd
{

namespace
{

enum class Kind { Utf8, Latin1, Cp1252, Utf16LE, Utf16BE };

QString KindName(Kind kind)
{
    switch (kind) {
    case Kind::Utf8:
        return QStringLiteral("UTF-8");
    case Kind::Latin1:
        return QStringLiteral("ISO-8859-1");
    case Kind::Cp1252:
        return QStringLiteral("windows-1252");
    case Kind::Utf16LE:
        return QStringLiteral("UTF-16LE");
    default:
        return QStringLiteral("UTF-16BE");
    }
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The encoding attribute of a declaration starting at p, or empty (no declaration, no attribute).
QByteArray DeclaredEncoding(const char *p, const char *end)
{
    if (end - p < 6 || std::memcmp(p, "<?xml", 5) != 0 || !IsBlank(p[5]))
        return QByteArray();
    const void *close = memmem(p, std::min<qsizetype>(end - p, 512), "?>", 2);
    if (!close)
        return QByteArray();
    const QByteArray declaration(p, static_cast<const char *>(close) - p);
    const qsizetype at = declaration.indexOf("encoding");
    if (at < 0)
        return QByteArray();
    qsizetype i = at + 8;
    while (i < declaration.size() && IsBlank(declaration[i]))
        ++i;
    if (i >= declaration.size() || declaration[i] != '=')
        return QByteArray();
    ++i;
    while (i < declaration.size() && IsBlank(declaration[i]))
        ++i;
    if (i >= declaration.size() || (declaration[i] != '"' && declaration[i] != '\''))
        return QByteArray();
    const qsizetype end_quote = declaration.indexOf(declaration[i], i + 1);
    return end_quote < 0 ? QByteArray() : declaration.mid(i + 1, end_quote - i - 1);
}

Kind KindOfLabel(const QByteArray &label)
{
    const QByteArray upper = label.trimmed().toUpper();
    if (upper.isEmpty() || upper == "UTF-8" || upper == "UTF8" || upper == "US-ASCII" || upper == "ASCII")
        return Kind::Utf8;
    for (const char *name :
         {"ISO-8859-1", "ISO8859-1", "ISO_8859-1", "LATIN1", "LATIN-1", "L1", "CP819", "IBM819"}) {
        if (upper == name)
            return Kind::Latin1;
    }
    for (const char *name : {"WINDOWS-1252", "CP1252", "WIN-1252", "X-CP1252"}) {
        if (upper == name)
            return Kind::Cp1252;
    }
    if (upper.startsWith("UTF-16") || upper.startsWith("UTF16"))
        throw Exception(QStringLiteral("O XML declara a codificação \"%1\", mas não está em UTF-16")
                            .arg(QString::fromLatin1(label)));
    throw Exception(
        QStringLiteral("Codificação \"%1\" do XML não suportada (aceitas: UTF-8, ISO-8859-1, Windows-1252)")
            .arg(QString::fromLatin1(label)));
}

QString DecodeUtf8(const QByteArray &bytes, qsizetype start, qsizetype end)
{
    const char *data = bytes.constData() + start;
    const qsizetype bad = xmlimpl::InvalidUtf8At(data, end - start);
    if (bad >= 0) {
        const auto [line, column] = xmlimpl::LineColumn(data, end - start, bad);
        throw Exception(
            QStringLiteral("Sequência UTF-8 inválida no byte %1 (linha %2, coluna %3): o arquivo não está "
                           "na codificação que declara")
                .arg(start + bad)
                .arg(line)
                .arg(column));
    }
    return QString::fromUtf8(data, end - start);
}

QString DecodeUtf16(const QByteArray &bytes, qsizetype start, bool bigEndian, XmlLeadingBytes leading,
                    qsizetype &skipped)
{
    if ((bytes.size() - start) % 2 != 0)
        throw Exception(QStringLiteral("Texto UTF-16 com número ímpar de bytes (%1)").arg(bytes.size()));
    const qsizetype n = (bytes.size() - start) / 2;
    QString text(n, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    const unsigned char *in = reinterpret_cast<const unsigned char *>(bytes.constData() + start);
    for (qsizetype i = 0; i < n; ++i)
        out[i] =
            bigEndian ? char16_t(in[2 * i] << 8 | in[2 * i + 1]) : char16_t(in[2 * i + 1] << 8 | in[2 * i]);
    if (leading == XmlLeadingBytes::Skip) {
        const qsizetype first = text.indexOf(QLatin1Char('<'));
        skipped = (first < 0 ? n : first) * 2;
        text.remove(0, first < 0 ? n : first);
    }
    int line = 1;
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text.at(i).unicode();
        if (c == '\n') {
            ++line;
            lineStart = i + 1;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (c > 0xDBFF || i + 1 >= text.size() || !text.at(i + 1).isLowSurrogate())
                throw Exception(
                    QStringLiteral("Texto UTF-16 inválido: surrogate isolado U+%1 (linha %2, coluna %3)")
                        .arg(uint(c), 4, 16, QLatin1Char('0'))
                        .arg(line)
                        .arg(i - lineStart + 1));
            ++i;
        }
    }
    return text;
}

} // namespace

DecodedXml DecodeXml(const QByteArray &bytes, XmlLeadingBytes leading)
{
    if (bytes.size() > 2 * kMaxXmlBytes)
        throw Exception(QStringLiteral("Arquivo XML grande demais: %1 MB").arg(bytes.size() / (1024 * 1024)));
    DecodedXml result;
    qsizetype start = 0;
    Kind kind = Kind::Utf8;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        result.byteOrderMark = true;
        start = 3;
    } else if (bytes.startsWith(QByteArray("\xFF\xFE\x00\x00", 4)) ||
               bytes.startsWith(QByteArray("\x00\x00\xFE\xFF", 4))) {
        throw Exception(QStringLiteral("Codificação UTF-32 do XML não suportada"));
    } else if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        result.byteOrderMark = true;
        start = 2;
        kind = bytes[0] == '\xFF' ? Kind::Utf16LE : Kind::Utf16BE;
    } else if (bytes.size() >= 2 && bytes[0] == '<' && bytes[1] == '\0') {
        kind = Kind::Utf16LE;
    } else if (bytes.size() >= 2 && bytes[0] == '\0' && bytes[1] == '<') {
        kind = Kind::Utf16BE;
    }
    result.encoding = KindName(kind);
    if (kind == Kind::Utf16LE || kind == Kind::Utf16BE) {
        result.text = DecodeUtf16(bytes, start, kind == Kind::Utf16BE, leading, result.skippedBytes);
        return result;
    }

    const char *data = bytes.constData();
    if (leading == XmlLeadingBytes::Skip) {
        const void *first = std::memchr(data + start, '<', size_t(bytes.size() - start));
        const qsizetype at = first ? static_cast<const char *>(first) - data : bytes.size();
        result.skippedBytes = at - start;
        start = at;
    }
    if (bytes.size() > kMaxXmlBytes + start)
        throw Exception(QStringLiteral("Arquivo XML grande demais: %1 MB").arg(bytes.size() / (1024 * 1024)));
    // A mark says UTF-8 whatever the declaration claims: the bytes were written by a UTF-8 writer.
    if (!result.byteOrderMark)
        kind = KindOfLabel(DeclaredEncoding(data + start, data + bytes.size()));
    result.encoding = KindName(kind);
    switch (kind) {
    case Kind::Latin1:
        result.text = QString::fromLatin1(data + start, bytes.size() - start);
        break;
    case Kind::Cp1252:
        result.text = Cp1252ToUnicode(data + start, bytes.size() - start);
        break;
    default:
        result.text = DecodeUtf8(bytes, start, bytes.size());
        break;
    }
    return result;
}

QString DecodeXmlBytes(const QByteArray &bytes, XmlLeadingBytes leading)
{
    return DecodeXml(bytes, leading).text;
}

DecodedXml ReadXmlFile(const QString &path, XmlLeadingBytes leading)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Exception(
            QStringLiteral("Não foi possível ler o arquivo \"%1\": %2").arg(path, file.errorString()));
    if (file.size() > 2 * kMaxXmlBytes)
        throw Exception(QStringLiteral("Arquivo \"%1\" grande demais para um XML: %2 MB")
                            .arg(path)
                            .arg(file.size() / (1024 * 1024)));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw Exception(
            QStringLiteral("Não foi possível ler o arquivo \"%1\": %2").arg(path, file.errorString()));
    try {
        return DecodeXml(bytes, leading);
    } catch (const Exception &e) {
        throw Exception(QStringLiteral("Arquivo \"%1\": %2").arg(path, e.Message()));
    }
}

} // namespace vnd
