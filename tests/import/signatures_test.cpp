// The signature check of the import through the driver and the real server: a document whose signature
// does not verify is stored all the same and told as an alert with its key; an intact one says nothing.
// The generator's documents carry no real signature, so the tests sign them with a key of their own.
#include "tests/import/importharness.h"
#include "tests/sign/assinador.h"
#include "tests/support/scripted_platform.h"

#include "sign/assinatura.h"

#include <QSqlQuery>
#include <gtest/gtest.h>

using namespace importtest;
using namespace vnd::docgen;
using vndtest::ScopedPlatform;

namespace {

// The document with the first text of the element after the one with the Id given changed by one character.
QByteArray AlteraDepois(const QByteArray &doc, const QString &id, const QByteArray &elemento)
{
    const qsizetype at = doc.indexOf(elemento, doc.indexOf("Id=\"" + id.toUtf8() + "\""));
    if (at < 0)
        throw std::runtime_error("element to alter not found");
    QByteArray alterado = doc;
    alterado.insert(at + elemento.size(), 'Z');
    return alterado;
}

// The alerts of the viewer's log about signatures: "file|branch|key|description".
QStringList AlertasDeAssinatura(vnd::TImportacaoXml &import)
{
    QStringList rows;
    TClientDataSet &log = import.cdsPreValidXml;
    for (log.First(); !log.Eof(); log.Next()) {
        const QString descricao = log.FieldByName(QStringLiteral("DSERROXML")).AsString();
        if (!descricao.startsWith(QStringLiteral("Assinatura inválida")))
            continue;
        EXPECT_EQ(log.FieldByName(QStringLiteral("IDTPVALIDXML")).DisplayText(), QStringLiteral("Alerta"));
        rows << log.FieldByName(QStringLiteral("NMARQXML")).AsString() + QLatin1Char('|') +
                    log.FieldByName(QStringLiteral("CDFILIAL")).AsString() + QLatin1Char('|') +
                    log.FieldByName(QStringLiteral("NRACESSONFCE")).AsString() + QLatin1Char('|') + descricao;
    }
    return rows;
}

// The document the server stored for the sale, as the export will write it.
QByteArray StoredDocument(const QString &key)
{
    QSqlQuery q(Server().Database());
    q.prepare(QStringLiteral("SELECT DSARQXMLNFCE FROM VENDA WHERE NRACESSONFCE = ?"));
    q.addBindValue(key);
    if (!q.exec() || !q.next())
        return {};
    return q.value(0).toByteArray();
}

} // namespace

TEST(ImportSignatures, NfceOfBothLayoutsAlteredOrUnverifiableAreStoredWithAnAlert)
{
    const Sale intacta = NfceSale(QStringLiteral("4.00"));
    const Sale alterada = NfceSale(QStringLiteral("3.10"));
    const Sale gerada = NfceSale(QStringLiteral("4.00"));
    const QString idAlterada = QStringLiteral("NFe") + alterada.accessKey;
    Batch batch;
    batch.Write(QStringLiteral("a-intacta.xml"),
                vndtest::Assina(ProcessedNfce(intacta), QStringLiteral("NFe") + intacta.accessKey));
    batch.Write(QStringLiteral("b-alterada.xml"),
                AlteraDepois(vndtest::Assina(ProcessedNfce(alterada), idAlterada), idAlterada, "<xFant>"));
    // As generated: the digest holds, but the certificate is no certificate.
    batch.Write(QStringLiteral("c-gerada.xml"), ProcessedNfce(gerada));
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(3, 3)).ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    EXPECT_EQ(StoredCount({intacta.accessKey, alterada.accessKey, gerada.accessKey}), 3);
    const QStringList alertas = AlertasDeAssinatura(*batch.import);
    ASSERT_EQ(alertas.size(), 2) << alertas.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(alertas[0].startsWith(QStringLiteral("b-alterada.xml|%1|%2|Assinatura inválida: o digest de \"#%3\"")
                                          .arg(Sp().code, alterada.accessKey, idAlterada)))
        << alertas[0].toStdString();
    EXPECT_TRUE(alertas[1].startsWith(QStringLiteral("c-gerada.xml|%1|%2|Assinatura inválida: certificado")
                                          .arg(Sp().code, gerada.accessKey)))
        << alertas[1].toStdString();
    // What was stored is still what the issuer signed: the export checks the same signature later.
    const vnd::ResultadoAssinatura guardada = vnd::VerificaAssinatura(StoredDocument(intacta.accessKey));
    EXPECT_TRUE(guardada.Intacta()) << guardada.motivo.toStdString();
    EXPECT_EQ(batch.Where(QStringLiteral("b-alterada.xml")),
              QStringLiteral("Xml Processados/%1/b-alterada.xml").arg(Sp().code));
}

TEST(ImportSignatures, EachCouponOfASatBatchIsCheckedOnItsOwn)
{
    const QList<Sale> cupons = SatSales(3);
    QByteArray lote = SatBatch(cupons, QStringLiteral("19"));
    for (const Sale &c : cupons)
        lote = vndtest::Assina(lote, c.StoredAccessKey(), vndtest::Algoritmo::RsaSha256);
    lote = AlteraDepois(lote, cupons[1].StoredAccessKey(), "<xProd>");
    // The third coupon loses its signature altogether.
    const qsizetype fim = lote.lastIndexOf("</CFe>");
    const qsizetype inicio = lote.lastIndexOf("<Signature xmlns", fim);
    lote.remove(inicio, fim - inicio);

    Batch batch;
    batch.Write(QStringLiteral("lote.xml"), lote);
    {
        ScopedPlatform platform;
        platform->ExpectInfo(XmlProc(3, 1)).ExpectQuestion(kConfLog, false);
        batch.Run();
    }
    EXPECT_EQ(StoredCount({cupons[0].StoredAccessKey(), cupons[1].StoredAccessKey(), cupons[2].StoredAccessKey()}), 3);
    const QStringList alertas = AlertasDeAssinatura(*batch.import);
    ASSERT_EQ(alertas.size(), 2) << alertas.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(alertas[0].startsWith(QStringLiteral("lote.xml|%1|%2|Assinatura inválida: o digest")
                                          .arg(Sp().code, cupons[1].StoredAccessKey())))
        << alertas[0].toStdString();
    EXPECT_EQ(alertas[1], QStringLiteral("lote.xml|%1|%2|Assinatura inválida: documento sem assinatura digital.")
                              .arg(Sp().code, cupons[2].StoredAccessKey()));
    const vnd::ResultadoAssinatura guardado = vnd::VerificaAssinatura(StoredDocument(cupons[0].StoredAccessKey()));
    EXPECT_TRUE(guardado.Intacta()) << guardado.motivo.toStdString();
}
