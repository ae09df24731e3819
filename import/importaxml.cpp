// The batch driver: walks the import folder, hands each document to its reader and files the source.
#include "host/errors.h"
#include "host/hostutil.h"
#include "host/platform.h"
#include "host/rpc.h"
#include "import/importacaoxml.h"
#include "import/importfiles.h"
#include "import/leituraantecipada.h"

#include <QFileInfo>
#include <QScopeGuard>
#include <algorithm>
#include <new>
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
    inQtdeNotasJaImp = 0;
    arquivosComErro.clear();
    entradasRecusadas.clear();
    m_linhasLocais.clear();
    stNrSeqValidXml.clear();
    m_filiaisNfce.clear();
    // Two documents take turns: the next file is read into one while the other is imported.
    const IXMLDocument docs[2] = {TXMLDocument::Create(), TXMLDocument::Create()};
    LeituraAntecipada leitura;
    try {
        // A batch without its number would mix its validation rows with nobody's: a failure stops here.
        stNrSeqValidXml = CheckResultServ(Chama(QStringLiteral("getPrxPreValidXml"))).toString();

        // Listed once: a file that cannot be moved away is not found again, and files arriving during
        // the batch wait for the next one. Only regular files are read; any other entry stays and is told.
        QStringList nomes = ListaArquivosXml(stDirXml, &entradasRecusadas);
        for (const EntradaRecusada &e : entradasRecusadas)
            m_linhasLocais << LinhaLocal{QLatin1Char('E'), e.nome, {}, {},
                                         QStringLiteral("Entrada não importada: %1.").arg(e.motivo),
                                         QStringLiteral("A entrada ficou na pasta de importação %1.").arg(stDirXml)};
        // A cancellation needs its sale stored first: cancellation batches go after every other file,
        // whatever their names.
        std::stable_partition(nomes.begin(), nomes.end(),
                              [this](const QString &nome) { return !PareceLoteCancelamento(stDirXml + nome); });
        if (!nomes.isEmpty())
            leitura.Pede(stDirXml + nomes.first(), docs[0]);
        const auto primeiroCancelamento = std::find_if(nomes.begin(), nomes.end(), [this](const QString &nome) {
            return PareceLoteCancelamento(stDirXml + nome);
        }) - nomes.begin();
        m_adiados.clear();
        m_vendasAdiadas = 0;
        m_adiando = true;
        const auto semAdiar = qScopeGuard([this] { m_adiando = false; });
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
            // A cancellation needs its sale stored: the sales read before it go first.
            if (i >= primeiroCancelamento)
                EnviaAdiadas();
            boPrimeiroDoc = true;
            stNomeArqXml = nome;
            m_motivoArquivo.clear();
            m_adiados.push_back(ArquivoAdiado{nome, {}, {}, lido.aviso, lido.identidade, false, {}, 0, 0, nullptr});
            bool falhou = false;
            ImportaArquivo(lido, falhou);
            ArquivoAdiado &lidoAgora = m_adiados.back();
            lidoAgora.falhou = falhou;
            lidoAgora.motivo = m_motivoArquivo;
            lidoAgora.filial = m_globals.stFilial;
            if (m_vendasAdiadas >= std::max(1, vendasPorChamada) || qsizetype(m_adiados.size()) >= std::max(1, vendasPorChamada))
                EnviaAdiadas();
        }
        // Also after a stop: every file read is answered and filed.
        EnviaAdiadas();

        Platform().Info(MensagemFinal(arquivos, cancelados));

        const TServerResult log = Chama(QStringLiteral("getPreValidXml"), {stNrSeqValidXml});
        cdsPreValidXml.SetData(rpc::ToPacket(CheckResultServ(log), "log de validação"));
        AcrescentaLinhasLocais();
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

QString TImportacaoXml::MensagemFinal(int arquivos, int cancelados) const
{
    QStringList linhas;
    if (cancelados >= 0)
        linhas << QStringLiteral("Importação cancelada pelo usuário; %1 arquivo(s) ficaram na pasta para a próxima "
                                 "importação.")
                      .arg(cancelados);
    if (arquivos == 0 && cancelados < 0)
        linhas << m_msg.Msg(QStringLiteral("Xml_n_Enc"));
    else
        linhas << Formata(m_msg.Msg(QStringLiteral("Xml_proc")),
                          {QString::number(inQtdeNotasImp), QString::number(arquivos)});
    if (inQtdeNotasJaImp > 0)
        linhas << QStringLiteral("%1 nota(s) já estava(m) gravada(s) no banco de dados e não foi(ram) gravada(s) "
                                 "de novo.")
                      .arg(inQtdeNotasJaImp);
    const auto arquivados = std::count_if(arquivosComErro.begin(), arquivosComErro.end(),
                                          [this](const ArquivoComErro &a) { return a.pasta != stDirXml; });
    if (arquivados > 0)
        linhas << QStringLiteral("%1 arquivo(s) com erro em %2").arg(arquivados).arg(stDirXmlErro);
    if (arquivosComErro.size() > arquivados)
        linhas << QStringLiteral("%1 arquivo(s) não puderam ser movidos e ficaram em %2")
                      .arg(arquivosComErro.size() - arquivados)
                      .arg(stDirXml);
    if (!entradasRecusadas.isEmpty())
        linhas << QStringLiteral("%1 entrada(s) da pasta não foram lidas (links, FIFOs, dispositivos ou nomes fora "
                                 "do UTF-8) e ficaram em %2")
                      .arg(entradasRecusadas.size())
                      .arg(stDirXml);
    return linhas.join(QLatin1Char('\n'));
}

void TImportacaoXml::AcrescentaLinhasLocais()
{
    if (m_linhasLocais.isEmpty())
        return;
    if (!cdsPreValidXml.Active())
        cdsPreValidXml.CreateDataSet();
    int seq = cdsPreValidXml.RecordCount();
    for (const LinhaLocal &l : m_linhasLocais) {
        cdsPreValidXml.Append();
        cdsPreValidXml.FieldByName(QStringLiteral("NRSEQVALIDXML")).SetAsString(stNrSeqValidXml);
        cdsPreValidXml.FieldByName(QStringLiteral("NRSEQERROXML")).SetAsString(QString::number(++seq));
        cdsPreValidXml.FieldByName(QStringLiteral("IDTPVALIDXML")).SetAsString(QString(l.tipo));
        cdsPreValidXml.FieldByName(QStringLiteral("NMARQXML")).SetAsString(l.arquivo.left(150));
        cdsPreValidXml.FieldByName(QStringLiteral("CDFILIAL")).SetAsString(l.filial.left(4));
        cdsPreValidXml.FieldByName(QStringLiteral("NRACESSONFCE")).SetAsString(l.chave.left(50));
        cdsPreValidXml.FieldByName(QStringLiteral("DSERROXML")).SetAsString(l.descricao.left(300));
        cdsPreValidXml.FieldByName(QStringLiteral("DSAJUDAXML")).SetAsString(l.ajuda.left(300));
        cdsPreValidXml.Post();
    }
    cdsPreValidXml.MergeChangeLog();
    cdsPreValidXml.First();
}

void TImportacaoXml::ImportaArquivo(const ArquivoLido &lido, bool &failed)
{
    try {
        if (lido.falha)
            std::rethrow_exception(lido.falha);
        const IXMLDocument &doc = lido.doc;
        stXmlArquivo = lido.xml;
        m_assinaturas.clear();
        m_assinaturaDoArquivo.clear();
        for (const ResultadoAssinatura &r : lido.assinaturas) {
            if (r.referencia.isEmpty())
                m_assinaturaDoArquivo = r.motivo;
            else
                m_assinaturas.insert(r.referencia, r);
        }
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
    } catch (const std::bad_alloc &) {
        // One file too large for this machine's memory fails alone; the batch goes on.
        RegistraFalha(QStringLiteral("Memória insuficiente para importar o arquivo."));
        failed = true;
    }
}

void TImportacaoXml::ConfereAssinatura(const QString &id, const QString &chave)
{
    QString motivo = m_assinaturaDoArquivo;
    if (motivo.isEmpty()) {
        const auto found = m_assinaturas.constFind(id);
        if (found == m_assinaturas.constEnd())
            motivo = QStringLiteral("documento sem assinatura digital");
        else if (!found->Intacta())
            motivo = found->motivo;
    }
    if (motivo.isEmpty())
        return;
    m_linhasLocais << LinhaLocal{QLatin1Char('A'), stNomeArqXml, m_globals.stFilial, chave,
                                 QStringLiteral("Assinatura inválida: %1.").arg(motivo),
                                 QStringLiteral("A venda foi gravada, mas o arquivo não é o que o emitente assinou. "
                                                "Peça o XML original a quem o gerou antes de entregá-lo ao contador.")};
}

void TImportacaoXml::ContaGravacao(const QVariant &resposta)
{
    // The store methods answer 1 for a sale stored and 0 for one the server already held.
    if (resposta.toInt() > 0)
        ++inQtdeNotasImp;
    else
        ++inQtdeNotasJaImp;
}

void TImportacaoXml::ValidaEGrava(const QVariantList &argumentos, const QString &chave)
{
    if (m_globals.stFilial.isEmpty()) {
        // Without a branch the sale is only validated: the log tells the user why it was not stored.
        CheckResultServ(Chama(QStringLiteral("setValidaXml"), {QVariant(argumentos)}));
        return;
    }
    if (m_adiando && !m_adiados.empty()) {
        // Sent with the next sales; the file is filed when they are answered.
        m_adiados.back().vendas.push_back(VendaAdiada{argumentos, chave, m_globals.stFilial, m_noLote});
        ++m_vendasAdiadas;
        return;
    }
    // The validation and the store in one round trip: the log gets the same rows, and a refused sale
    // comes back with the store's message.
    const QVariant resposta = GravaVendas({QVariant(argumentos)}).first();
    if (resposta.typeId() == QMetaType::QString)
        throw EServerError(resposta.toString());
    ContaGravacao(resposta);
}

QVariantList TImportacaoXml::GravaVendas(const QVariantList &vendas)
{
    const QVariantList respostas = CheckResultServ(Chama(QStringLiteral("setValidaGravaVendas"), {QVariant(vendas)})).toList();
    if (respostas.size() != vendas.size())
        throw EServerError(QStringLiteral("Resposta do servidor com %1 resultado(s) para %2 venda(s).")
                               .arg(respostas.size())
                               .arg(vendas.size()));
    return respostas;
}

void TImportacaoXml::EnviaAdiadas()
{
    if (m_adiados.empty())
        return;
    QVariantList lista;
    lista.reserve(m_vendasAdiadas);
    for (const ArquivoAdiado &a : m_adiados)
        for (const VendaAdiada &v : a.vendas)
            lista << QVariant(v.argumentos);
    QVariantList respostas;
    if (!lista.isEmpty()) {
        try {
            respostas = GravaVendas(lista);
        } catch (const EConnectionError &) {
            // Nothing is known of these sales: their files stay to be imported again.
            m_adiados.clear();
            m_vendasAdiadas = 0;
            throw;
        } catch (const Exception &e) {
            // The call refused as a whole: each of its sales is refused with its message.
            respostas = QVariantList(lista.size(), QVariant(e.Message()));
        }
    }
    std::vector<ArquivoAdiado> arquivos;
    arquivos.swap(m_adiados);
    m_vendasAdiadas = 0;
    qsizetype k = 0;
    for (const ArquivoAdiado &a : arquivos)
        ConcluiArquivo(a, respostas, k);
}

void TImportacaoXml::ConcluiArquivo(const ArquivoAdiado &arquivo, const QVariantList &respostas, qsizetype &k)
{
    const QString &nome = arquivo.nome;
    stNomeArqXml = nome;
    m_motivoArquivo = arquivo.motivo;
    bool falhou = arquivo.falhou;
    int recusados = arquivo.recusados;
    for (const VendaAdiada &v : arquivo.vendas) {
        const QVariant &resposta = respostas.at(k++);
        const bool recusada = resposta.typeId() == QMetaType::QString;
        m_globals.stFilial = v.filial;
        if (v.doLote) {
            DocumentoDoLote(v.chave, recusados, [&] {
                if (recusada)
                    throw EServerError(resposta.toString());
                ContaGravacao(resposta);
            });
        } else if (recusada) {
            RegistraFalha(resposta.toString());
            falhou = true;
        } else {
            ContaGravacao(resposta);
        }
    }
    m_globals.stFilial = arquivo.filial;
    if (arquivo.tipoLote) {
        try {
            ConfereLote(recusados, arquivo.documentos, arquivo.tipoLote);
        } catch (const Exception &e) {
            RegistraFalha(e.Message());
            falhou = true;
        }
    }
    if (EmptyString(m_globals.stFilial)) {
        RegistraFalha(QStringLiteral("Filial e caixa não encontrados para o CNPJ e a série do arquivo."));
        falhou = true;
    }
    if (!arquivo.aviso.isEmpty())
        m_linhasLocais << LinhaLocal{QLatin1Char('A'), nome, m_globals.stFilial, {}, arquivo.aviso,
                                     QStringLiteral("Confira a codificação com o programa que gerou o "
                                                    "arquivo antes de entregá-lo ao contador.")};
    // Rewritten or replaced since it was read: the new content was not imported, so the file stays for
    // the next batch.
    if (arquivo.identidade != ArquivoLido::Identidade() && IdentidadeDoArquivo(stDirXml + nome) != arquivo.identidade)
        return;
    QString pasta;
    const bool arquivado = FileArquivo(nome, falhou, pasta);
    if (falhou || !arquivado) {
        arquivosComErro << ArquivoComErro{nome, pasta, m_motivoArquivo};
        m_linhasLocais << LinhaLocal{
            QLatin1Char('E'), nome, m_globals.stFilial, {}, m_motivoArquivo,
            arquivado ? QStringLiteral("O arquivo está em %1; o log do arquivo diz o que houve.").arg(pasta)
                      : QStringLiteral("O arquivo ficou na pasta de importação %1.").arg(pasta)};
    }
}

bool TImportacaoXml::FileArquivo(const QString &name, bool failed, QString &pasta)
{
    const QString &filial = m_globals.stFilial;
    pasta = (failed ? stDirXmlErro : stDirXmlProc) + (filial.isEmpty() ? QString() : filial + QLatin1Char('/'));
    try {
        if (!NomePastaSeguro(filial))
            throw Exception(QStringLiteral("Código de filial inválido para nome de pasta: \"%1\"").arg(filial));
        const QString guardado = MoveArquivo(stDirXml + name, pasta, name);
        if (guardado != name) {
            const QString aviso = QStringLiteral("Já havia em %1 um arquivo \"%2\" com outro conteúdo; este foi "
                                                 "guardado como \"%3\".")
                                      .arg(pasta, name, guardado);
            LogAjuste(aviso, stNomeArqXml + QStringLiteral("-log"));
            m_linhasLocais << LinhaLocal{QLatin1Char('A'), name, filial, {}, aviso,
                                         QStringLiteral("Os dois arquivos foram mantidos; nenhum foi substituído.")};
        }
        return true;
    } catch (const Exception &e) {
        RegistraFalha(e.Message());
        pasta = stDirXml;
        return false;
    }
}

} // namespace vnd
