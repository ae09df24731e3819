// The batch driver: walks the import folder, hands each document to its reader and files the source.
#include "host/errors.h"
#include "host/hostutil.h"
#include "host/platform.h"
#include "host/rpc.h"
#include "import/importacaoxml.h"
#include "import/importfiles.h"
#include "import/leituraantecipada.h"

#include <QFileInfo>
#include <algorithm>
#include <optional>

namespace vnd {

namespace {

// The message's "%s" markers replaced by the values, in order.
QString Formata(QString text, const QStringList &values)
{
    int from = 0;
    for (const QString &value : values) {
        const int at = text.indexOf(QLatin1String("%s"), from);
        if (at < 0)
            break;
        text.replace(at, 2, value);
        from = at + value.size();
    }
    return text;
}

} // namespace

void TImportacaoXml::importaXml()
{
    std::optional<BusyGuard> busy(std::in_place);
    int arquivos = 0;
    inQtdeNotasImp = 0;
    stNrSeqValidXml.clear();
    m_filiaisNfce.clear();
    // Two documents take turns: the next file is read into one while the other is imported.
    const IXMLDocument docs[2] = {TXMLDocument::Create(), TXMLDocument::Create()};
    LeituraAntecipada leitura;
    try {
        // A batch without its number would mix its validation rows with nobody's: a failure stops here.
        stNrSeqValidXml = CheckResultServ(Chama(QStringLiteral("getPrxPreValidXml"))).toString();

        // Listed once: a file that cannot be moved away is not found again, and files arriving during
        // the batch wait for the next one.
        QStringList nomes = ListaArquivosXml(stDirXml);
        // A cancellation needs its sale stored first: cancellation batches go after every other file,
        // whatever their names.
        std::stable_partition(nomes.begin(), nomes.end(),
                              [this](const QString &nome) { return !PareceLoteCancelamento(stDirXml + nome); });
        if (!nomes.isEmpty())
            leitura.Pede(stDirXml + nomes.first(), docs[0]);
        int cancelados = -1;
        for (int i = 0; i < nomes.size(); ++i) {
            // A stop asked for on the busy indicator is taken between two files: the file being
            // imported is filed first, so none is left half done.
            if (Platform().BusyCancelRequested()) {
                cancelados = int(nomes.size()) - i;
                break;
            }
            const QString &nome = nomes.at(i);
            Platform().BusyProgress(QStringLiteral("arquivo %1 de %2").arg(i + 1).arg(nomes.size()));
            const ArquivoLido lido = leitura.Toma();
            if (i + 1 < nomes.size())
                leitura.Pede(stDirXml + nomes.at(i + 1), docs[(i + 1) % 2]);
            // Gone since the listing (another import took it): nothing of ours to file.
            if (!QFileInfo::exists(stDirXml + nome))
                continue;
            ++arquivos;
            boPrimeiroDoc = true;
            stNomeArqXml = nome;
            bool falhou = false;
            ImportaArquivo(lido, falhou);
            if (EmptyString(m_globals.stFilial)) {
                RegistraFalha(QStringLiteral("Filial e caixa não encontrados para o CNPJ e a série do arquivo."));
                falhou = true;
            }
            // Rewritten or replaced since it was read: the new content was not imported, so the file
            // stays for the next batch.
            if (lido.identidade != ArquivoLido::Identidade() &&
                IdentidadeDoArquivo(stDirXml + nome) != lido.identidade)
                continue;
            FileArquivo(nome, falhou);
        }

        if (cancelados >= 0)
            Platform().Info(QStringLiteral("Importação cancelada pelo usuário; %1 arquivo(s) ficaram na pasta para a "
                                           "próxima importação.\n")
                                .arg(cancelados) +
                            Formata(m_msg.Msg(QStringLiteral("Xml_proc")),
                                    {QString::number(inQtdeNotasImp), QString::number(arquivos)}));
        else if (arquivos == 0)
            Platform().Info(m_msg.Msg(QStringLiteral("Xml_n_Enc")));
        else
            Platform().Info(Formata(m_msg.Msg(QStringLiteral("Xml_proc")),
                                    {QString::number(inQtdeNotasImp), QString::number(arquivos)}));

        const TServerResult log = Chama(QStringLiteral("getPreValidXml"), {stNrSeqValidXml});
        cdsPreValidXml.SetData(rpc::ToPacket(CheckResultServ(log), "log de validação"));
        busy.reset();
        if (!cdsPreValidXml.IsEmpty() && Platform().AskYesNo(m_msg.Msg(QStringLiteral("CONF_LOG"))) &&
            CriaRelConsVenAuto)
            CriaRelConsVenAuto();
    } catch (...) {
        busy.reset();
        // The batch's rows go away on the server also when the import ends on an error; a second failure
        // here must not hide the first one, which is the one the user has to see.
        if (!stNrSeqValidXml.isEmpty()) {
            try {
                Chama(QStringLiteral("setDelPreValidXml"), {stNrSeqValidXml});
            } catch (const std::exception &) {
            }
        }
        throw;
    }
    CheckResultServ(Chama(QStringLiteral("setDelPreValidXml"), {stNrSeqValidXml}));
}

void TImportacaoXml::ImportaArquivo(const ArquivoLido &lido, bool &failed)
{
    try {
        if (lido.falha)
            std::rethrow_exception(lido.falha);
        const IXMLDocument &doc = lido.doc;
        stXmlArquivo = lido.xml;
        const IXMLNode raiz = doc->DocumentElement();
        const IXMLNodeList filhos = raiz->ChildNodes();
        // Recognition order: the batches first, then the single coupon, then the NFC-e forms.
        if (const IXMLNode lote = filhos->FindNode("LoteCFe")) {
            geraXmlSat(lote, boPrimeiroDoc);
        } else if (const IXMLNode loteCanc = filhos->FindNode("LoteCFeCanc")) {
            geraXmlSatCanc(loteCanc, boPrimeiroDoc);
        } else if (raiz->NodeName() == QLatin1String("CFe")) {
            geraXmlSatColibri(raiz, boPrimeiroDoc);
        } else if (const IXMLNode nfe = filhos->FindNode("NFe")) {
            geraXmlNfce(nfe, filhos->Nodes("protNFe"), boPrimeiroDoc);
        } else if (raiz->NodeName() == QLatin1String("NFe")) {
            geraXmlNfce(raiz, raiz, boPrimeiroDoc);
        } else {
            RegistraFalha(QStringLiteral("Arquivo XML fora do padrão exigido pela Sefaz."));
            failed = true;
        }
    } catch (const EConnectionError &) {
        // Without the server no file can be judged: the batch ends and this file stays to be imported.
        throw;
    } catch (const Exception &e) {
        RegistraFalha(e.Message());
        failed = true;
    }
}

void TImportacaoXml::FileArquivo(const QString &name, bool failed)
{
    const QString &filial = m_globals.stFilial;
    const QString pasta = (failed ? stDirXmlErro : stDirXmlProc) + (filial.isEmpty() ? QString() : filial + QLatin1Char('/'));
    try {
        if (!NomePastaSeguro(filial))
            throw Exception(QStringLiteral("Código de filial inválido para nome de pasta: \"%1\"").arg(filial));
        MoveArquivo(stDirXml + name, pasta, name);
    } catch (const Exception &e) {
        RegistraFalha(e.Message());
    }
}

} // namespace vnd
