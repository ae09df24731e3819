// The published UTF-8 routines, including the corners their callers depend on.

#include "xml/UUtf8.h"

#include <gtest/gtest.h>

namespace
{

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int v : values)
        bytes.append(char(v));
    return bytes;
}

const char16_t *Units(const QString &s)
{
    return reinterpret_cast<const char16_t *>(s.utf16());
}

} // namespace

TEST(Utf8, StringFunctions)
{
    const QByteArray acaoAnsi = Bytes({0x61, 0xE7, 0xE3, 0x6F});
    const QByteArray acaoUtf8 = Bytes({0x61, 0xC3, 0xA7, 0xC3, 0xA3, 0x6F});
    EXPECT_EQ(QByteArray(AnsiToUtf8(acaoAnsi)), acaoUtf8);
    EXPECT_EQ(Utf8ToAnsi(acaoUtf8), acaoAnsi);
    EXPECT_EQ(UTF8Decode(acaoUtf8), QStringLiteral("ação"));
    EXPECT_EQ(QByteArray(UTF8Encode(QStringLiteral("ação"))), acaoUtf8);

    // Windows-1252, not Latin-1: the euro sign and the dash; a character outside it becomes "?".
    EXPECT_EQ(QByteArray(AnsiToUtf8(Bytes({0x80, 0x96}))), QByteArray("\xE2\x82\xAC\xE2\x80\x93"));
    EXPECT_EQ(Utf8ToAnsi("\xE2\x82\xAC \xC5\x81"), Bytes({0x80, 0x20, 0x3F}));
    // The bytes Windows-1252 leaves undefined survive a round trip.
    EXPECT_EQ(Utf8ToAnsi(AnsiToUtf8(Bytes({0x81, 0x8D, 0x8F, 0x90, 0x9D}))),
              Bytes({0x81, 0x8D, 0x8F, 0x90, 0x9D}));

    for (const QByteArray &empty : {QByteArray(), QByteArray("")}) {
        EXPECT_TRUE(UTF8Decode(empty).isEmpty());
        EXPECT_TRUE(AnsiToUtf8(empty).isEmpty());
        EXPECT_TRUE(Utf8ToAnsi(empty).isEmpty());
    }
    EXPECT_TRUE(UTF8Encode(QString()).isEmpty());
}

TEST(Utf8, SurrogatesAreEncodedOneByOne)
{
    const QString grin = QString::fromUtf16(u"\U0001F600");
    ASSERT_EQ(grin.size(), 2);
    const QByteArray cesu = Bytes({0xED, 0xA0, 0xBD, 0xED, 0xB8, 0x80});
    EXPECT_EQ(QByteArray(UTF8Encode(grin)), cesu);
    // Decoding gives the two units back, never a combined pair from a four-byte form.
    EXPECT_EQ(UTF8Decode(cesu), grin);
    EXPECT_TRUE(UTF8Decode("\xF0\x9F\x98\x80").isEmpty());
    // A four-byte lead reads as the three-byte form: F0 9F 98 gives one 16-bit unit.
    char16_t out[4] = {};
    EXPECT_EQ(Utf8ToUnicode(out, 4, "\xF0\x9F\x98", 3), 2u);
    EXPECT_EQ(out[0], char16_t(0x07D8));
}

TEST(Utf8, MalformedInputFailsWithAllBitsSet)
{
    for (const QByteArray &bad : {QByteArray("abc\xC3"), QByteArray("\xC3\x41"), QByteArray("\xE2\x82"),
                                  QByteArray("\xE2\x41\x82"), QByteArray("\x80")}) {
        EXPECT_EQ(Utf8ToUnicode(nullptr, 0, bad.constData(), uint32_t(bad.size())), 0xFFFFFFFFu)
            << bad.toHex().data();
        EXPECT_EQ(int32_t(Utf8ToUnicode(nullptr, 0, bad.constData(), uint32_t(bad.size()))), -1);
        EXPECT_TRUE(UTF8Decode(bad).isEmpty()) << bad.toHex().data();
        EXPECT_TRUE(Utf8ToAnsi(bad).isEmpty());
    }
    // What was decoded before the fault stays in the buffer.
    char16_t out[8] = {u'#', u'#', u'#', u'#', u'#', u'#', u'#', u'#'};
    EXPECT_EQ(Utf8ToUnicode(out, 8, "ab\xC3", 3), 0xFFFFFFFFu);
    EXPECT_EQ(out[0], u'a');
    EXPECT_EQ(out[1], u'b');
    EXPECT_EQ(out[2], u'#');
}

TEST(Utf8, BufferContract)
{
    const QString acao = QStringLiteral("ação");
    EXPECT_EQ(UnicodeToUtf8(nullptr, 0, Units(acao), 4), 7u);
    EXPECT_EQ(UnicodeToUtf8(nullptr, 0, nullptr, 4), 0u);
    EXPECT_EQ(Utf8ToUnicode(nullptr, 0, "a\xC3\xA7\xC3\xA3o", 6), 5u);
    EXPECT_EQ(Utf8ToUnicode(nullptr, 0, nullptr, 6), 0u);

    // "aç" into 3 bytes: 61 C3 A7 written, the count reaches the capacity, the terminator takes A7's place.
    char small[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(UnicodeToUtf8(small, 3, Units(acao), 2), 3u);
    EXPECT_EQ(QByteArray(small, 4), Bytes({0x61, 0xC3, 0x00, '#'}));

    // A character that does not fit stops the encoding; room enough gives the whole text and its terminator.
    char two[3] = {'#', '#', '#'};
    EXPECT_EQ(UnicodeToUtf8(two, 2, Units(acao), 4), 2u);
    EXPECT_EQ(QByteArray(two, 3), Bytes({0x61, 0x00, '#'}));
    char room[8];
    EXPECT_EQ(UnicodeToUtf8(room, 8, Units(acao), 4), 7u);
    EXPECT_EQ(QByteArray(room, 7), QByteArray("a\xC3\xA7\xC3\xA3o", 7));

    // Decoding into a buffer exactly as long as the text loses its last unit to the terminator.
    char16_t units[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(Utf8ToUnicode(units, 3, "abc", 3), 3u);
    EXPECT_EQ(units[0], u'a');
    EXPECT_EQ(units[1], u'b');
    EXPECT_EQ(units[2], 0);
    EXPECT_EQ(units[3], u'#');

    // No room for even the terminator: nothing is written (the capacity must be at least 1).
    char none = '#';
    EXPECT_EQ(UnicodeToUtf8(&none, 0, Units(acao), 4), 0u);
    EXPECT_EQ(none, '#');
    char16_t noUnit = u'#';
    EXPECT_EQ(Utf8ToUnicode(&noUnit, 0, "abc", 3), 0u);
    EXPECT_EQ(noUnit, u'#');
}

TEST(Utf8, EveryBasicPlaneUnitRoundTrips)
{
    QString all;
    for (uint c = 1; c <= 0xFFFF; ++c)
        all.append(QChar(char16_t(c)));
    const UTF8String encoded = UTF8Encode(all);
    EXPECT_EQ(uint32_t(encoded.size()) + 1, UnicodeToUtf8(nullptr, 0, Units(all), uint32_t(all.size())));
    EXPECT_EQ(UTF8Decode(encoded), all);
}
