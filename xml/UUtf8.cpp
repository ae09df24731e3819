#include "xml/UUtf8.h"

#include "xml/cp1252.h"

namespace
{

constexpr uint32_t kMalformed = 0xFFFFFFFFu;

// Decodes one character at s[i]; advances i. False on malformed input.
bool DecodeOne(const unsigned char *s, uint32_t size, uint32_t &i, char16_t &out)
{
    const unsigned char lead = s[i++];
    if (lead < 0x80) {
        out = lead;
        return true;
    }
    if (i >= size)
        return false;
    uint32_t value = lead & 0x3F;
    if (lead & 0x20) {
        const unsigned char middle = s[i++];
        if ((middle & 0xC0) != 0x80 || i >= size)
            return false;
        value = (value << 6) | (middle & 0x3F);
    }
    const unsigned char last = s[i++];
    if ((last & 0xC0) != 0x80)
        return false;
    out = char16_t((value << 6) | (last & 0x3F));
    return true;
}

} // namespace

extern "C" uint32_t UnicodeToUtf8(char *Dest, uint32_t MaxDestBytes, const char16_t *Source,
                                  uint32_t SourceChars)
{
    if (!Source)
        return 0;
    if (!Dest) {
        uint32_t needed = 0;
        for (uint32_t i = 0; i < SourceChars; ++i)
            needed += Source[i] <= 0x7F ? 1 : Source[i] <= 0x7FF ? 2 : 3;
        return needed + 1;
    }
    if (MaxDestBytes == 0)
        return 0;
    uint32_t count = 0;
    for (uint32_t i = 0; i < SourceChars && count < MaxDestBytes; ++i) {
        const char16_t c = Source[i];
        if (c <= 0x7F) {
            Dest[count++] = char(c);
        } else if (c <= 0x7FF) {
            if (MaxDestBytes - count < 2)
                break;
            Dest[count++] = char(0xC0 | (c >> 6));
            Dest[count++] = char(0x80 | (c & 0x3F));
        } else {
            if (MaxDestBytes - count < 3)
                break;
            Dest[count++] = char(0xE0 | (c >> 12));
            Dest[count++] = char(0x80 | ((c >> 6) & 0x3F));
            Dest[count++] = char(0x80 | (c & 0x3F));
        }
    }
    if (count >= MaxDestBytes)
        count = MaxDestBytes - 1;
    Dest[count] = '\0';
    return count + 1;
}

extern "C" uint32_t Utf8ToUnicode(char16_t *Dest, uint32_t MaxDestChars, const char *Source,
                                  uint32_t SourceBytes)
{
    if (!Source)
        return 0;
    const unsigned char *s = reinterpret_cast<const unsigned char *>(Source);
    uint32_t i = 0;
    uint32_t count = 0;
    char16_t c;
    if (!Dest) {
        while (i < SourceBytes) {
            if (!DecodeOne(s, SourceBytes, i, c))
                return kMalformed;
            ++count;
        }
        return count + 1;
    }
    if (MaxDestChars == 0)
        return 0;
    while (i < SourceBytes && count < MaxDestChars) {
        if (!DecodeOne(s, SourceBytes, i, c))
            return kMalformed;
        Dest[count++] = c;
    }
    if (count >= MaxDestChars)
        count = MaxDestChars - 1;
    Dest[count] = 0;
    return count + 1;
}

UTF8String UTF8Encode(const QString &s)
{
    if (s.isEmpty())
        return UTF8String();
    const uint32_t capacity = uint32_t(3 * s.size() + 1);
    QByteArray buffer(capacity, Qt::Uninitialized);
    const uint32_t written = UnicodeToUtf8(buffer.data(), capacity,
                                           reinterpret_cast<const char16_t *>(s.utf16()), uint32_t(s.size()));
    if (int32_t(written) <= 0)
        return UTF8String();
    buffer.truncate(written - 1);
    return UTF8String(buffer);
}

QString UTF8Decode(const QByteArray &s)
{
    if (s.isEmpty())
        return QString();
    const uint32_t capacity = uint32_t(s.size() + 1);
    QString buffer(capacity, Qt::Uninitialized);
    const uint32_t written = Utf8ToUnicode(reinterpret_cast<char16_t *>(buffer.data()), capacity,
                                           s.constData(), uint32_t(s.size()));
    if (int32_t(written) <= 0)
        return QString();
    buffer.truncate(written - 1);
    return buffer;
}

UTF8String AnsiToUtf8(const QByteArray &s)
{
    return UTF8Encode(vnd::Cp1252ToUnicode(s));
}

QByteArray Utf8ToAnsi(const QByteArray &s)
{
    return vnd::UnicodeToCp1252(UTF8Decode(s));
}
