#pragma once
// The XML batch import of the main screen: its state, its record sets, the driver that walks a folder
// and files every source under "Xml Processados" or "Xml Erro" per branch, the text log of failed files,
// and the four readers that turn a document into sales on the application server. Screen-free: the main
// screen owns one object, the import filter sets the folder and fallback and runs importaXml().

#include "host/messages.h"
#include "host/netconnection.h"
#include "host/recordset.h"
#include "import/importfiles.h"
#include "import/importglobals.h"
#include "import/leituraantecipada.h"
#include "sign/assinatura.h"
#include "xml/xmldoc.h"

#include <QHash>
#include <QString>
#include <functional>

namespace vnd {

struct ArquivoLido;

class TImportacaoXml
{
public:
    // net: the main screen's open connection; msgPadrao: its message table ("Xml_proc", "Xml_n_Enc",
    // "CONF_LOG", "Erro", "Alerta"); globals: the module's texts (stFilial and the SAT serials).
    TImportacaoXml(TNetConnection &net, const TMessages &msgPadrao, ImportGlobals &globals = ModuleImportGlobals());
    ~TImportacaoXml();
    TImportacaoXml(const TImportacaoXml &) = delete;
    TImportacaoXml &operator=(const TImportacaoXml &) = delete;

    // Import state; the filter sets the first four (folders end in "/").
    QString stDirXml;
    QString stDirXmlErro;
    QString stDirXmlProc;
    QString stFilialCaixaPadrao; // branch (4) + cash register (3) + company (2), or empty
    QString stNrSeqValidXml;     // validation batch number of the running batch
    QString stNomeArqXml;        // name of the file being imported, as listed
    QString stXmlArquivo;        // XML text of the document (SAT readers: of the coupon) being read
    int inQtdeNotasImp = 0;      // sales the server stored in this batch
    int inQtdeNotasJaImp = 0;    // sales sent again that the server already held (not stored twice)
    bool boPrimeiroDoc = false;  // true until a reader took the first document of the file

    // Sale being imported, one set per table and kind; each is emptied and filled per document.
    TClientDataSet cdsVendaXmlNfce;
    TClientDataSet cdsItensXmlNfce;
    TClientDataSet cdsMeioPgtoXmlNfce;
    TClientDataSet cdsVendaXmlSat;
    TClientDataSet cdsItensXmlSat;
    TClientDataSet cdsMeioPgtoXmlSat;
    // The server's validation log of the last batch; IDTPVALIDXML shows "Erro"/"Alerta".
    TClientDataSet cdsPreValidXml;

    // A file of the last batch that was not imported whole: filed under the error folder, or left in the
    // import folder when it could not be filed. pasta is where it lies now.
    struct ArquivoComErro
    {
        QString nome, pasta, motivo;
    };
    QList<ArquivoComErro> arquivosComErro;
    // Entries of the import folder that were not read at all (links, FIFOs, devices, undecodable names).
    QList<EntradaRecusada> entradasRecusadas;
    // Whether the last batch imported every file it found: none failed and no entry was refused.
    bool ImportacaoCompleta() const { return arquivosComErro.isEmpty() && entradasRecusadas.isEmpty(); }

    // Opens the log viewer over cdsPreValidXml (modal); set by the screen, unset for no viewer.
    std::function<void()> CriaRelConsVenAuto;
    // Told the short name of every remote method before it is called (diagnostics and tests).
    std::function<void(const QString &method)> onRemoteCall;
    // Sales sent to the server together (setValidaGravaVendas, one transaction): the files they come from
    // are filed once the answer for all of them is in. 1 sends each file's sales before the next is read.
    int vendasPorChamada = 100;

    // Imports every "*.xml" of stDirXml (listed once, sorted by name): each file is read, handed to its
    // reader, then moved whole into the processed or error folder of its branch. Ends with "Xml_proc"
    // (or "Xml_n_Enc") and what else the user must know (sales already stored, files in error, entries
    // not read), fetches the batch's validation log, adds the files in error to it, offers the viewer and
    // deletes the log on the server. Per-file failures are logged and filed; a lost connection ends the
    // batch, leaving the current file in place.
    void importaXml();

    // Appends one line (date, time, " - ", text, CR LF) to stDirXmlErro + stFilial + "/" + name + ".txt",
    // creating the branch's processed and error folders first. Exception naming the path on failure.
    void LogAjuste(const QString &text, const QString &name);

    // NFC-e reader: nfe is the NFe element; protNfe the protNFe element, or nfe again for a bare NFe.
    void geraXmlNfce(const IXMLNode &nfe, const IXMLNode &protNfe, bool &primeiroDoc);
    // SAT sale batch reader: one sale per CFe child of the LoteCFe element.
    void geraXmlSat(const IXMLNode &loteCfe, bool &primeiroDoc);
    // SAT cancellation batch reader: one cancellation per CFeCanc child of the LoteCFeCanc element.
    void geraXmlSatCanc(const IXMLNode &loteCfeCanc, bool &primeiroDoc);
    // Single SAT coupon whose document element is the CFe itself.
    void geraXmlSatColibri(const IXMLNode &cfe, bool &primeiroDoc);

    // The module texts this import works with.
    ImportGlobals &Globals() { return m_globals; }

private:
    // Branch of a SAT coupon as the lookup (or the fallback) gave it.
    struct FilialSat
    {
        QString filial, empresa, caixa;
    };

    // A row of the viewer that the client adds itself (a file in error, a refused coupon, a warning).
    struct LinhaLocal
    {
        QChar tipo; // 'E' or 'A'
        QString arquivo, filial, chave, descricao, ajuda;
    };

    // A sale read and waiting for the server, and the file it came from, waiting for its sales' answers
    // to be filed (what the file's import found so far travels with it).
    struct VendaAdiada
    {
        QVariantList argumentos;
        QString chave, filial;
        bool doLote = false; // a document of a batch file: a refusal is the document's, not the file's
    };
    struct ArquivoAdiado
    {
        QString nome, motivo, filial, aviso;
        ArquivoLido::Identidade identidade;
        bool falhou = false;
        std::vector<VendaAdiada> vendas;
        // A batch file: the documents refused while it was read, of how many, and of which kind.
        int recusados = 0, documentos = 0;
        const char *tipoLote = nullptr;
    };

    TServerResult Chama(const QString &method, const QVariantList &params = {});
    // Counts the answer of a store method: 1 a sale stored, 0 one the server already held.
    void ContaGravacao(const QVariant &resposta);
    // Has the server validate the sale of the array into the batch's log and, when its branch is known,
    // store it and counts it: both in one call (setValidaGravaVendas, with the sales of the files read
    // before while a batch runs), or setValidaXml alone without a branch.
    void ValidaEGrava(const QVariantList &argumentos, const QString &chave = {});
    // Sends the sales waiting, then files every file waiting, in order. EConnectionError leaves them all
    // in the import folder, unjudged.
    void EnviaAdiadas();
    // setValidaGravaVendas for the sales' arrays: one answer per sale (1, 0 or the refusal's text), in
    // order. EServerError when the answer does not hold one per sale.
    QVariantList GravaVendas(const QVariantList &vendas);
    // What the batch loop does with a file once its sales are answered: the refusals logged, the file
    // filed, its error told. respostas from position k: one answer per sale of the file.
    void ConcluiArquivo(const ArquivoAdiado &arquivo, const QVariantList &respostas, qsizetype &k);
    void AcrescentaLinhasLocais();
    // The end of a batch: Xml_proc (or Xml_n_Enc), then what else the user must know; cancelados >= 0 when
    // the user stopped the batch with that many files left.
    QString MensagemFinal(int arquivos, int cancelados) const;
    void ImportaArquivo(const ArquivoLido &lido, bool &failed);
    void RegistraFalha(const QString &descricao);
    // Files the source; answers false (after logging why) when it had to stay in the import folder.
    bool FileArquivo(const QString &name, bool failed, QString &pasta);
    void CriaPastasFilial();
    // Sets stFilial, company and cash register from a server answer or the fallback (4 + 3 + 2
    // characters); a branch that would leave its folder counts as none.
    void DefineFilial(const QString &resposta, bool comCaixa, QString &empresa, QString &caixa);
    // SAT sale: empties the three SAT sets and fills them from one CFe.
    void PreencheCupomSat(const IXMLNode &cfe, bool &primeiroDoc);
    // Branch of the coupon in the sale set: looked up once per distinct serial and issuer of a file
    // (the cache), also for an empty serial; sets stFilial.
    FilialSat FilialDoCupom(QHash<QString, FilialSat> &cache);
    void EnviaCupomSat(const FilialSat &filial);
    // The serial rule of the SAT readers: the first document of a file sets the new serial, the others the
    // previous one.
    void AnotaSerieSat(const QString &serie, bool &primeiroDoc);
    // SAT cancellation: fills the sale set from one CFeCanc and sends it when a branch was found.
    void CancelaCupomSat(const IXMLNode &cfeCanc, bool &primeiroDoc, QHash<QString, FilialSat> &filiais);
    // The server's branch answer for the NFC-e in the sale set: asked once per issuer and series in a
    // batch (the registers do not move between branches while a batch runs).
    QString RespostaFilialNfce(const QVariant &pacoteVenda);
    void AcrescentaPagamentoNfce(const QString &tipo, double valor);
    // One document of a batch file (a coupon or a cancellation): a refusal of it (a server error, a value
    // that does not convert) is logged with its key and counted in recusados, and the batch goes on.
    void DocumentoDoLote(const QString &chave, int &recusados, const std::function<void()> &envia);
    // After a batch file: Exception saying how many of its documents were refused, when any was.
    static void ConfereLote(int recusados, int documentos, const char *tipo);
    void AbreVazio(TClientDataSet &cds);
    // The signature of the document whose signed element has the Id given (NFC-e "NFe…", CF-e "CFe…"),
    // as the reading of the file found it: a signature that does not verify, or none, becomes an alert
    // row with the key; the sale is stored all the same. Call once the branch is known.
    void ConfereAssinatura(const QString &id, const QString &chave);

    TNetConnection &m_net;
    const TMessages &m_msg;
    ImportGlobals &m_globals;
    // Answers of getFilialNFce in the running batch, by issuer tax number and series.
    QHash<QString, QString> m_filiaisNfce;
    // The first reason logged for the file being imported.
    QString m_motivoArquivo;
    QList<LinhaLocal> m_linhasLocais;
    // Signatures of the file being imported, by the Id of the element each one signs; and the reason
    // that holds for every document of the file when the file as a whole could not be checked.
    QHash<QString, ResultadoAssinatura> m_assinaturas;
    QString m_assinaturaDoArquivo;
    // While a batch runs: the files read whose sales wait for the server (the last is being read), and
    // whether the reader at work is in a batch file.
    bool m_adiando = false, m_noLote = false;
    std::vector<ArquivoAdiado> m_adiados;
    qsizetype m_vendasAdiadas = 0;
};

} // namespace vnd
