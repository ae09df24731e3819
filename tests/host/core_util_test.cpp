#include "host/errors.h"
#include "host/hostutil.h"
#include "host/messages.h"
#include "host/platform.h"

#include <QDateTime>
#include <gtest/gtest.h>

TEST(HostUtil, AjustaPadsAndRefusesToCut)
{
    EXPECT_EQ(Ajusta(QStringLiteral("1"), 4), QStringLiteral("0001"));
    EXPECT_EQ(Ajusta(QStringLiteral("123"), 9), QStringLiteral("000000123"));
    EXPECT_EQ(Ajusta(QStringLiteral("0001"), 4), QStringLiteral("0001"));
    EXPECT_EQ(Ajusta(QString(), 3), QStringLiteral("000"));
    try {
        Ajusta(QStringLiteral("12345"), 4);
        FAIL() << "a longer code must not be cut";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("12345")));
    }
}

// A stored document is "empty" when it has no characters but blanks, Unicode ones included, whichever
// form of the text is asked.
TEST(HostUtil, EmptyTextsAsBytesAndAsText)
{
    for (const QByteArray &blank : {QByteArray(), QByteArray(" \t\r\n\v\f"), QByteArray("\xC2\xA0 \xE2\x80\x83")}) {
        EXPECT_TRUE(EmptyUtf8(blank)) << blank.toHex().toStdString();
        EXPECT_TRUE(EmptyString(QString::fromUtf8(blank)));
    }
    for (const QByteArray &content : {QByteArray(" <NFe/>"), QByteArray("\xC2\xA0x"), QByteArray("\x1F")}) {
        EXPECT_FALSE(EmptyUtf8(content)) << content.toHex().toStdString();
        EXPECT_FALSE(EmptyString(QString::fromUtf8(content)));
    }
}

TEST(HostUtil, DecimalReadingRule)
{
    EXPECT_DOUBLE_EQ(vnd::StrToFloatBr(QStringLiteral("12.50")), 12.5);
    EXPECT_DOUBLE_EQ(vnd::StrToFloatBr(QStringLiteral("12,50")), 12.5);
    EXPECT_DOUBLE_EQ(vnd::StrToFloatBr(QStringLiteral("0")), 0.0);
    for (const char *bad : {"", "abc", "1.234,50", "1,2,3"})
        EXPECT_THROW(vnd::StrToFloatBr(QString::fromLatin1(bad)), EConvertError) << bad;
}

TEST(HostUtil, BrazilianDates)
{
    EXPECT_EQ(vnd::StrToDateTimeBr(QStringLiteral("07/03/2015 18:45:10")),
              QDateTime(QDate(2015, 3, 7), QTime(18, 45, 10)));
    EXPECT_EQ(vnd::StrToDateTimeBr(QStringLiteral("07/03/2015")), QDateTime(QDate(2015, 3, 7), QTime(0, 0)));
    for (const char *bad : {"", "31/02/2015", "2015-03-07", "//  ::", "31/02/2015 10:00:00", "29/02/2015 10:00:00",
                            "07/03/2015 24:00:00", "07/03/2015 18:60:10", "07/13/2015 18:45:10", "00/03/2015 18:45:10",
                            "07/03/2015T18:45:10", "07/03/2015 18:45:1x"})
        EXPECT_THROW(vnd::StrToDateTimeBr(QString::fromLatin1(bad)), EConvertError) << bad;
    // The full form is read digit by digit; it must agree with Qt's reading of the same pattern.
    for (const char *full : {"29/02/2016 23:59:59", "01/01/0001 00:00:00", "31/12/9999 12:00:00", " 07/03/2015 08:05:09 "}) {
        const QString text = QString::fromLatin1(full);
        EXPECT_EQ(vnd::StrToDateTimeBr(text), QDateTime::fromString(text.trimmed(), QStringLiteral("dd/MM/yyyy HH:mm:ss")))
            << full;
    }
}

TEST(HostUtil, MessagesByKey)
{
    const TMessages msg({QStringLiteral("Erro|Erro"), QStringLiteral("Xml_proc|Foram importadas %s notas|x")});
    EXPECT_EQ(msg.Msg(QStringLiteral("Xml_proc")), QStringLiteral("Foram importadas %s notas|x"));
    EXPECT_THROW(msg.Msg(QStringLiteral("Nada")), Exception);
}

TEST(HostUtil, RunHandlerSwallowsAbortAndShowsErrors)
{
    struct Recorder : IPlatform
    {
        QStringList errors;
        bool AskYesNo(const QString &) override { return false; }
        void Info(const QString &) override {}
        void Error(const QString &t) override { errors << t; }
        bool SelectFolder(const QString &, QString &) override { return false; }
        void SetHourglass(bool) override {}
        void BusyShow() override {}
        void BusyProgress(const QString &) override {}
        void BusyHide() override {}
    };
    auto rec = std::make_shared<Recorder>();
    auto previous = SetPlatform(rec);
    bool after = false;
    vnd::RunHandler([&] {
        MensErro(QStringLiteral("Filial deve ser informada."));
        after = true;
    });
    vnd::RunHandler([] { throw EServerError(QStringLiteral("falhou no servidor")); });
    SetPlatform(previous);
    EXPECT_FALSE(after);
    EXPECT_EQ(rec->errors, QStringList({QStringLiteral("Filial deve ser informada."), QStringLiteral("falhou no servidor")}));
}
