// Hostile and broken files: each is logged with a reason and filed whole; none stops the batch, none
// is stored, none is lost.
#include "tests/import/importharness.h"
#include "tests/support/scripted_platform.h"
#include "tests/support/testutil.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace importtest;
using vndtest::ScopedPlatform;

namespace {

struct Hostile
{
    const char *name;
    QByteArray bytes;
    const char *reason; // part of the logged description
};

QByteArray Deep(int levels)
{
    QByteArray xml;
    xml.reserve(levels * 7);
    for (int i = 0; i < levels; ++i)
        xml += "<a>";
    for (int i = 0; i < levels; ++i)
        xml += "</a>";
    return xml;
}

QByteArray GoodNfce()
{
    vnd::docgen::SaleOptions o;
    o.kind = vnd::docgen::DocKind::Nfce;
    o.status = vnd::docgen::NfceStatus::Authorized;
    o.branchCode = Gen().Branches().first().code;
    return vnd::docgen::ProcessedNfce(Gen().MakeSale(o));
}

} // namespace

TEST(ImportHostile, EveryBadFileIsLoggedAndFiledWhileTheBatchGoesOn)
{
    const QByteArray nfe = GoodNfce();
    QByteArray noDate = nfe;
    noDate.replace(noDate.indexOf("<dhEmi>"), noDate.indexOf("</dhEmi>") + 8 - noDate.indexOf("<dhEmi>"), "");
    QByteArray latin = nfe;
    latin.replace("<xNome>", "<xNome>Jo\xe3o ");
    QByteArray binary(4096, '\0');
    for (int i = 0; i < binary.size(); ++i)
        binary[i] = char((i * 7919) % 251);
    const std::vector<Hostile> files = {
        {"a-texto.xml", "Relatório do caixa: nada de XML aqui.", ""},
        {"b-truncado.xml", nfe.left(nfe.size() / 2), ""},
        {"c-entidade-externa.xml",
         "<?xml version=\"1.0\"?><!DOCTYPE NFe [<!ENTITY e SYSTEM \"file:///etc/passwd\">]><NFe>&e;</NFe>", ""},
        {"d-bilhao-de-risadas.xml",
         "<!DOCTYPE l [<!ENTITY a \"haha\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]><l>&b;</l>", ""},
        {"e-profundo.xml", Deep(100000), ""},
        {"f-grande.xml", "<relatorio>" + QByteArray(50 * 1024 * 1024, 'x') + "</relatorio>",
         "Arquivo XML fora do padrão exigido pela Sefaz."},
        {"g-latin1-declarado-utf8.xml", latin, "UTF-8"},
        {"h-binario.xml", binary, ""},
        {"i-vazio.xml", QByteArray(), ""},
        {"j-sem-dhEmi.xml", noDate, "dhEmi"},
        {"k-nome com acentuação.xml", "<raiz/>", "Arquivo XML fora do padrão exigido pela Sefaz."},
    };
    Batch batch;
    for (const Hostile &h : files)
        batch.Write(QString::fromUtf8(h.name), h.bytes);
    // A good file last, read-only as some terminals leave them: it is still imported and moved.
    batch.Write(QStringLiteral("z-somente-leitura.XML"), GoodNfce());
    QFile::setPermissions(batch.Dir() + QStringLiteral("z-somente-leitura.XML"), QFile::ReadOwner | QFile::ReadGroup);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(1, int(files.size()) + 1) + ComErros(batch, int(files.size())))
            .ExpectQuestion(QStringLiteral("Atenção! Existem problemas nos arquivos XML. Deseja consultar o log de "
                                           "erros?"),
                            false);
        batch.Run();
    }
    for (const Hostile &h : files) {
        const QString name = QString::fromUtf8(h.name);
        SCOPED_TRACE(name.toStdString());
        EXPECT_EQ(batch.Where(name), QStringLiteral("Xml Erro/") + name);
        EXPECT_EQ(vndtest::ReadFile(batch.Dir() + QStringLiteral("Xml Erro/") + name), h.bytes);
        const QStringList log = batch.LogLines(QString(), name);
        ASSERT_GE(log.size(), 4); // the failure, then the missing branch
        EXPECT_TRUE(log[0].endsWith(QStringLiteral("-----> Erro no XML ") + name));
        const int at = log[1].indexOf(QStringLiteral("Descrição do erro: "));
        ASSERT_GT(at, 0);
        EXPECT_GT(log[1].size() - at, 20) << "reason too short: " << log[1].toStdString();
        EXPECT_TRUE(log[1].contains(QString::fromUtf8(h.reason))) << log[1].toStdString();
    }
    EXPECT_EQ(batch.Where(QStringLiteral("z-somente-leitura.XML")),
              QStringLiteral("Xml Processados/%1/z-somente-leitura.XML").arg(Gen().Branches().first().code));
}
