#include "xml/cp1252.h"

namespace vnd
{

namespace
{

// Code points of bytes 0x80 to 0x9F; the rest of the page equals ISO-8859-1.
constexpr char16_t kHighControls[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                        0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                        0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                        0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

char ToCp1252(char16_t c)
{
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return char(c);
    for (int i = 0; i < 32; ++i) {
        if (kHighControls[i] == c)
            return char(0x80 + i);
    }
    return '?';
}

} // namespace

QString Cp1252ToUnicode(const char *bytes, qsizetype size)
{
    QString text(size, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    for (qsizetype i = 0; i < size; ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        out[i] = b >= 0x80 && b < 0xA0 ? kHighControls[b - 0x80] : char16_t(b);
    }
    return text;
}

QByteArray UnicodeToCp1252(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(text.size());
    const char16_t *in = reinterpret_cast<const char16_t *>(text.utf16());
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        // A character outside the basic plane is one "?", not one per surrogate.
        if (in[i] >= 0xD800 && in[i] <= 0xDBFF && i + 1 < n && in[i + 1] >= 0xDC00 && in[i + 1] <= 0xDFFF) {
            bytes.append('?');
            ++i;
            continue;
        }
        bytes.append(ToCp1252(in[i]));
    }
    return bytes;
}

} // namespace vnd
