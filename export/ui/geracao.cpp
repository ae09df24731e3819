// "Gerar Xml": the ticked sales' files, written on this machine or by the application server.
#include "export/core/documentsource.h"
#include "export/core/geraxmllocal.h"
#include "export/ui/frmendarqxml.h"
#include "export/ui/frmgeraxml.h"
#include "export/ui/frmpastaservidor.h"
#include "host/hostutil.h"
#include "host/platform.h"

#include <QDir>
#include <QStatusBar>

void TfrmGeraXml::vd_Check()
{
    if (!vnd::LocalizaMarcada(cdsNotas))
        MensErro(msgPadrao.Msg(QStringLiteral("Nenh_Sele")));
}

bool TfrmGeraXml::geraXmlLocal(const QString &pasta)
{
    vnd::BusyGuard ocupado;
    m_semAssinatura = 0;
    vnd::ExportSummary resumo;
    // The list holds its rows without their documents: they are read from the server a batch at a time.
    vnd::RemoteDocumentSource documentos(netGeraXml);
    const bool gerado = vnd::GeraXmlLocal(cdsNotas, pasta, boCompactado, &m_canceladaApos, &resumo, false,
                                           &documentos);
    m_semAssinatura = int(resumo.unsignedEvents.size());
    m_assinaturaInvalida = resumo.invalidSignatures;
    m_assinaturasInvalidas = resumo.invalidSignatureCount;
    return gerado;
}

void TfrmGeraXml::sbtGeraXmlClick()
{
    vd_Check();
    if (!Platform().AskYesNo(QStringLiteral("Confirma geração dos arquivos XML?")))
        return;
    CriaEndArqXML();
    if (!boConfirmado)
        return;
    // The server writes into its own export root: its folders are chosen there, by relative name; a
    // folder of this machine would mean nothing to it.
    QString pasta;
    if (boServidor) {
        pasta = m_ultimaPastaServidor;
        if (!vnd::EscolhePastaServidor(netGeraXml, pasta))
            return;
        m_ultimaPastaServidor = pasta;
    } else if (!Platform().SelectFolder(QStringLiteral("Selecione o diretório dos arquivos XML"), pasta)) {
        return;
    }
    const QString compacta = iif(boCompactado, "S", "N");
    const vnd::TResumoMarcadas marcadas = vnd::ResumoMarcadas(cdsNotas);

    bool gerado = false;
    m_canceladaApos = -1;
    m_semAssinatura = 0;
    m_assinaturaInvalida.clear();
    m_assinaturasInvalidas = 0;
    if (boServidor) {
        vnd::BusyGuard ocupado;
        // Only the ticked rows' keys travel: the server reads everything else from its own database.
        const QVariantList params{QVariant::fromValue(vnd::TickedKeysPacket(cdsNotas)), pasta, compacta, false};
        gerado = CheckResultServ(Chama(QStringLiteral("geraXml"), params)).toBool();
    } else {
        gerado = geraXmlLocal(pasta);
    }
    if (!gerado)
        MensErro(msgPadrao.Msg(QStringLiteral("Xml_Err")));
    if (m_canceladaApos >= 0) {
        const QString texto = QStringLiteral("Geração cancelada pelo usuário: arquivos de %1 de %2 notas gravados em %3%4.")
                                  .arg(m_canceladaApos)
                                  .arg(marcadas.quantidade)
                                  .arg(QDir::toNativeSeparators(pasta),
                                       boCompactado ? QStringLiteral(" (compactados)") : QString());
        statusBar()->showMessage(texto);
        Platform().Info(texto);
        return;
    }
    statusBar()->showMessage(
        QStringLiteral("Arquivos de %1 %2 gerados %3 %4%5")
            .arg(marcadas.quantidade)
            .arg(marcadas.quantidade == 1 ? QStringLiteral("nota") : QStringLiteral("notas"))
            .arg(boServidor ? QStringLiteral("no servidor, na pasta") : QStringLiteral("na pasta"),
                 boServidor ? pasta : QDir::toNativeSeparators(pasta),
                 boCompactado ? QStringLiteral(" (compactados)") : QString()) +
        (m_semAssinatura > 0 ? QStringLiteral("; %1 evento(s) de cancelamento reconstruído(s) sem assinatura")
                                   .arg(m_semAssinatura)
                             : QString()) +
        (m_assinaturasInvalidas > 0
             ? QStringLiteral("; %1 arquivo(s) com assinatura inválida").arg(m_assinaturasInvalidas)
             : QString()));
    Platform().Info(msgPadrao.Msg(QStringLiteral("Xml_Ok")));
    // Written all the same, and named in the run's summary: the user is told which ones and why.
    if (m_assinaturasInvalidas > 0)
        Platform().Info(QStringLiteral("%1 arquivo(s) gravado(s) com assinatura inválida (veja o resumo da pasta):\n%2")
                            .arg(m_assinaturasInvalidas)
                            .arg(m_assinaturaInvalida.mid(0, 20).join(QLatin1Char('\n')) +
                                 (m_assinaturasInvalidas > 20 ? QStringLiteral("\n…") : QString())));
}
