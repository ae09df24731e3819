#include "host/salepackets.h"

namespace vnd {

const QString kCampoTpAmb = QStringLiteral("IDTPAMBNFCE ");

void DefineVendaNfcePacote(TClientDataSet &cds)
{
    cds.AddField(QStringLiteral("NRACESSONFCE"), TFieldType::String, 50);
    cds.AddField(QStringLiteral("CDSERIENFCE"), TFieldType::String, 10);
    cds.AddField(QStringLiteral("NRNOTAFISCALCE"), TFieldType::String, 9);
    cds.AddField(QStringLiteral("DTVENDA"), TFieldType::DateTime);
    cds.AddField(kCampoTpAmb, TFieldType::String, 1);
    cds.AddField(QStringLiteral("NRINSCRCONS"), TFieldType::String, 20);
    cds.AddField(QStringLiteral("NRLANCTONFCE"), TFieldType::String, 10);
    cds.AddField(QStringLiteral("NRINSJURFILI"), TFieldType::String, 20);
    cds.AddField(QStringLiteral("DTHRPROTOCONFCE"), TFieldType::DateTime);
    cds.AddField(QStringLiteral("NRPROTOCOLONFCE"), TFieldType::String, 15);
    cds.AddField(QStringLiteral("DSOBSSTATUSNFCE"), TFieldType::String, 4000);
    cds.AddField(QStringLiteral("DSARQXMLNFCE"), TFieldType::Memo);
    cds.AddField(QStringLiteral("VRTOTVENDA"), TFieldType::Float);
}

void DefineVendaSatPacote(TClientDataSet &cds)
{
    cds.AddField(QStringLiteral("NRACESSONFCE"), TFieldType::String, 50);
    cds.AddField(QStringLiteral("CDSERIESAT"), TFieldType::String, 10);
    cds.AddField(QStringLiteral("NRNOTAFISCALCE"), TFieldType::String, 9);
    cds.AddField(QStringLiteral("DTVENDA"), TFieldType::DateTime);
    cds.AddField(kCampoTpAmb, TFieldType::String, 1);
    cds.AddField(QStringLiteral("CDCAIXA"), TFieldType::String, 3);
    cds.AddField(QStringLiteral("NRINSCRCONS"), TFieldType::String, 20);
    cds.AddField(QStringLiteral("NRLANCTONFCE"), TFieldType::String, 10);
    cds.AddField(QStringLiteral("NRINSJURFILI"), TFieldType::String, 20);
    cds.AddField(QStringLiteral("DSARQXMLNFCE"), TFieldType::Memo);
    cds.AddField(QStringLiteral("NRACESSOCANC"), TFieldType::String, 50);
    cds.AddField(QStringLiteral("VRTOTVENDA"), TFieldType::Float);
}

void DefineItensVendaPacote(TClientDataSet &cds)
{
    cds.AddField(QStringLiteral("CDPRODUTO"), TFieldType::String, 30);
    cds.AddField(QStringLiteral("QTPRODVEND"), TFieldType::Float);
    cds.AddField(QStringLiteral("VRUNITVEND"), TFieldType::Float);
    cds.AddField(QStringLiteral("VRDESITVEND"), TFieldType::Float);
    cds.AddField(QStringLiteral("VRACRITVEND"), TFieldType::Float);
    cds.AddField(QStringLiteral("NRSEQUITVEND"), TFieldType::String, 3);
}

void DefineMeioPgtoPacote(TClientDataSet &cds)
{
    cds.AddField(QStringLiteral("IDPGTO"), TFieldType::String, 2);
    cds.AddField(QStringLiteral("VRPGTO"), TFieldType::Float);
}

} // namespace vnd
