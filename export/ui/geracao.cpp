// "Gerar Xml": the ticked sales' files, written on this machine or by the application server.
#include "export/core/geraxmllocal.h"
#include "export/ui/frmendarqxml.h"
#include "export/ui/frmgeraxml.h"
#include "host/hostutil.h"
#include "host/platform.h"

void TfrmGeraXml::vd_Check()
{
    if (!vnd::LocalizaMarcada(cdsNotas))
        MensErro(msgPadrao.Msg(QStringLiteral("Nenh_Sele")));
}

bool TfrmGeraXml::geraXmlLocal(const QString &pasta)
{
    vnd::BusyGuard ocupado;
    return vnd::GeraXmlLocal(cdsNotas, pasta, boCompactado);
}

void TfrmGeraXml::sbtGeraXmlClick()
{
    vd_Check();
    if (!Platform().AskYesNo(QStringLiteral("Confirma geração dos arquivos XML?")))
        return;
    CriaEndArqXML();
    if (!boConfirmado)
        return;
    QString pasta;
    if (!Platform().SelectFolder(QStringLiteral("Selecione o diretório dos arquivos XML"), pasta))
        return;
    const QString compacta = iif(boCompactado, "S", "N");

    bool gerado = false;
    if (boServidor) {
        vnd::BusyGuard ocupado;
        // The whole list travels, every row with its tick: the server writes the ticked ones.
        const QVariantList params{QVariant::fromValue(cdsNotas.Data()), pasta, compacta, false};
        gerado = CheckResultServ(Chama(QStringLiteral("geraXml"), params)).toBool();
    } else {
        gerado = geraXmlLocal(pasta);
    }
    if (!gerado)
        MensErro(msgPadrao.Msg(QStringLiteral("Xml_Err")));
    Platform().Info(msgPadrao.Msg(QStringLiteral("Xml_Ok")));
}
