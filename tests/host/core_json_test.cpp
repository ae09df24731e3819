#include "host/errors.h"
#include "host/json.h"
#include "host/rpc.h"

#include <gtest/gtest.h>

using namespace vnd;

TEST(Json, StringsRoundTripEscapesAndAccents)
{
    const QByteArray texts[] = {"", "plain", "quote \" back \\ slash", "ctl \x01\x1f\n\r\t",
                                "ação Ção ü €", QByteArray("nul\0inside", 10)};
    JsonWriter w;
    w.BeginArray();
    for (const auto &t : texts)
        w.String(t);
    w.EndArray();
    JsonReader r(w.Bytes());
    r.ExpectArrayBegin();
    for (const auto &t : texts) {
        ASSERT_TRUE(r.NextElement());
        EXPECT_EQ(r.ReadString(), t);
    }
    EXPECT_FALSE(r.NextElement());
}

// Strings long enough for the wide scans, with one byte that needs escaping at every position, and bytes
// from 0x7f up that must go through unescaped.
TEST(Json, EveryPositionOfAnEscapeInLongStrings)
{
    const struct
    {
        char byte;
        const char *escaped;
    } specials[] = {{'"', "\\\""}, {'\\', "\\\\"}, {'\n', "\\n"}, {'\r', "\\r"}, {'\t', "\\t"},
                    {'\x01', "\\u0001"}, {'\x1f', "\\u001f"}, {'\0', "\\u0000"}};
    for (int length : {1, 15, 16, 17, 31, 32, 33, 70}) {
        for (int at = 0; at < length; ++at) {
            for (const auto &sp : specials) {
                QByteArray text(length, 'x');
                for (int i = 0; i < length; i += 5)
                    text[i] = char(0x7f + i % 0x80); // 0x7f, high bytes: no escape
                text[at] = sp.byte;
                JsonWriter w;
                w.String(text);
                QByteArray expected = text;
                expected.replace(at, 1, sp.escaped);
                ASSERT_EQ(w.Bytes(), '"' + expected + '"') << length << " " << at << " " << int(sp.byte);
                JsonReader r(w.Bytes());
                ASSERT_EQ(r.ReadString(), text) << length << " " << at << " " << int(sp.byte);
            }
        }
    }
    // Dense mixes across block boundaries, against the escaping rule written out plainly.
    const char alphabet[] = {'"', '\\', 'a', '\n', '\x01', '\xC3', '\xA7', 'u', '\x7f'};
    unsigned seed = 12345;
    for (int n = 0; n < 400; ++n) {
        QByteArray text, expected = "\"";
        for (int i = 0, len = n % 97; i < len; ++i) {
            seed = seed * 1103515245u + 12345u;
            const char c = alphabet[(seed >> 16) % sizeof alphabet];
            text += c;
            expected += c == '"' ? QByteArray("\\\"") : c == '\\' ? QByteArray("\\\\") : c == '\n' ? QByteArray("\\n")
                      : c == '\x01'                          ? QByteArray("\\u0001") : QByteArray(1, c);
        }
        expected += '"';
        JsonWriter w;
        w.String(text);
        ASSERT_EQ(w.Bytes(), expected);
        JsonReader r(w.Bytes());
        ASSERT_EQ(r.ReadString(), text);
    }
    // Many escapes in a row, and an escaped quote where a plain one would end the string.
    const QByteArray dense = QByteArray(40, '"') + QByteArray(40, '\\') + "<a b=\"1\"/>";
    JsonWriter w;
    w.BeginArray();
    w.String(dense);
    w.String(dense);
    w.EndArray();
    JsonReader r(w.Bytes());
    r.ExpectArrayBegin();
    ASSERT_TRUE(r.NextElement());
    r.Skip();
    ASSERT_TRUE(r.NextElement());
    EXPECT_EQ(r.ReadString(), dense);
    EXPECT_FALSE(r.NextElement());
}

TEST(Json, UnicodeEscapesAndSurrogatePairs)
{
    JsonReader r(R"(["\u00e7\u00e3o", "\ud83d\ude00", "\/"])");
    r.ExpectArrayBegin();
    r.NextElement();
    EXPECT_EQ(QString::fromUtf8(r.ReadString()), QString::fromUtf8("ção"));
    r.NextElement();
    EXPECT_EQ(r.ReadString(), QByteArray("\xF0\x9F\x98\x80"));
    r.NextElement();
    EXPECT_EQ(r.ReadString(), QByteArray("/"));
}

TEST(Json, MalformedTextFailsWithOffset)
{
    for (const char *bad : {"[1,", "{\"a\" 1}", "[\"open", "[\"\\u12\"]", "{\"a\":1,}", "[\"ends in \\\"]",
                            "[\"\\x\"]", "[\"\\ud800\\u12\"]"}) {
        JsonReader r(bad);
        EXPECT_THROW(r.ReadVariant(), Exception) << bad;
    }
}

TEST(Json, HostileNestingFailsInsteadOfExhaustingTheStack)
{
    const QByteArray deep = QByteArray(1000000, '[') + QByteArray(1000000, ']');
    JsonReader r(deep);
    EXPECT_THROW(r.ReadVariant(), Exception);
    JsonReader raw(QByteArray(100000, '{'));
    EXPECT_THROW(raw.ReadRaw(), Exception);
    EXPECT_THROW(rpc::DecodeRequest("{\"method\":\"x\",\"params\":" + deep + "}"), Exception);
    // Real packets nest three levels; a few dozen stay legal.
    JsonReader ok(QByteArray(50, '[') + QByteArray(50, ']'));
    EXPECT_NO_THROW(ok.ReadVariant());
}

TEST(Rpc, RequestCarriesPacketsRawAndNestedLists)
{
    const TDataPacket packet{R"({"fields":[{"name":"A","type":"string","size":3}],"rows":[["x"]]})"};
    const QVariantList params{QStringLiteral("_0001_"), true, QVariant(), QDateTime(QDate(2026, 1, 31), QTime(23, 59, 59)),
                              QVariant::fromValue(packet), QVariantList{QStringLiteral("S"), 9}};
    const rpc::Request req = rpc::DecodeRequest(rpc::EncodeRequest(7, QStringLiteral("m"), params));
    ASSERT_EQ(req.params.size(), 6);
    EXPECT_EQ(req.params[0].toString(), QStringLiteral("_0001_"));
    EXPECT_TRUE(req.params[1].toBool());
    EXPECT_FALSE(req.params[2].isValid());
    EXPECT_EQ(req.params[3].toString(), QStringLiteral("2026-01-31T23:59:59"));
    EXPECT_EQ(rpc::ToPacket(req.params[4]).json, packet.json);
    EXPECT_EQ(req.params[5].toList().size(), 2);
    EXPECT_THROW(rpc::ToPacket(req.params[0]), Exception);
}
