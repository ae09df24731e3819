// The import folder of the demo and of the import tests: one file of every kind and encoding the
// points of sale leave behind, and the broken files a real folder also collects.

#include "server/docgen/importfolder.h"
#include "server/docgen/fiscalcodes.h"

#include "host/errors.h"

#include <QDir>
#include <QSaveFile>
#include <QStringConverter>

#include <algorithm>

namespace vnd::docgen
{

namespace
{

const QString kUnknownDocument = QStringLiteral("Arquivo XML fora do padrão exigido pela Sefaz.");
const QString kNoBranch = QStringLiteral("Filial e caixa não encontrados para o CNPJ e a série do arquivo.");

class FolderWriter
{
  public:
    explicit FolderWriter(const QString &folder) : m_dir(folder)
    {
        if (!QDir().mkpath(folder))
            throw Exception(
                QStringLiteral("Não foi possível criar a pasta de importação \"%1\".").arg(folder));
    }

    void Write(ImportCase c, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(c.fileName);
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
            throw Exception(
                QStringLiteral("Não foi possível gravar o arquivo \"%1\": %2").arg(path, file.errorString()));
        m_cases.append(std::move(c));
    }

    QList<ImportCase> Cases()
    {
        std::sort(m_cases.begin(), m_cases.end(),
                  [](const ImportCase &a, const ImportCase &b) { return a.fileName < b.fileName; });
        return m_cases;
    }

  private:
    QDir m_dir;
    QList<ImportCase> m_cases;
};

ImportCase Good(const QString &name, ImportKind kind, const QList<Sale> &sales, const QString &description)
{
    ImportCase c;
    c.fileName = name;
    c.kind = kind;
    c.imported = true;
    c.sales = int(sales.size());
    c.branchCode = sales.first().branchCode;
    for (const Sale &s : sales)
        c.accessKeys.append(s.StoredAccessKey());
    c.description = description;
    return c;
}

ImportCase Broken(const QString &name, ImportKind kind, const QString &description, const QString &error = {})
{
    ImportCase c;
    c.fileName = name;
    c.kind = kind;
    c.description = description;
    c.errorText = error;
    return c;
}

QByteArray Declaration()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
}

// A layout 4.00 sale paid with two means and change, the case the import's payment rows must show.
Sale SaleWithChange(Generator &gen, const QString &branch)
{
    SaleOptions o;
    o.kind = DocKind::Nfce;
    o.status = NfceStatus::Authorized;
    o.branchCode = branch;
    o.layoutVersion = QStringLiteral("4.00");
    o.minItems = 3;
    Sale best = gen.MakeSale(o);
    for (int i = 0; i < 300 && !(best.payments.size() == 2 && best.change > 0); ++i) {
        Sale next = gen.MakeSale(o);
        if (next.change > 0 || next.payments.size() > best.payments.size())
            best = std::move(next);
    }
    return best;
}

// An NFC-e of a shop the database does not know: another chain, same layout.
Sale ForeignSale(const Generator &gen, quint64 seed)
{
    for (quint64 s = seed;; ++s) {
        MasterOptions small;
        small.companies = 1;
        small.branchesPerCompany = 1;
        small.registersPerBranch = 1;
        small.customers = 0;
        small.products = 10;
        Generator other(s, small);
        const QString cnpj = other.Branches().first().cnpj;
        if (std::none_of(gen.Branches().begin(), gen.Branches().end(),
                         [&](const Branch &b) { return b.cnpj == cnpj; })) {
            SaleOptions o;
            o.kind = DocKind::Nfce;
            o.status = NfceStatus::Authorized;
            return other.MakeSale(o);
        }
    }
}

void WriteGoodFiles(Generator &gen, FolderWriter &out, const ImportFolderOptions &o)
{
    const Branch &sp = gen.Branches().first(); // always in São Paulo: NFC-e and SAT
    SaleOptions nfce;
    nfce.kind = DocKind::Nfce;
    nfce.status = NfceStatus::Authorized;
    nfce.branchCode = sp.code;

    SaleOptions named = nfce;
    named.withCustomer = true;
    const Sale processed = gen.MakeSale(named);
    out.Write(Good(processed.accessKey + QStringLiteral("-procNFe.xml"), ImportKind::NfceProcessed,
                   {processed}, QStringLiteral("NFC-e 3.10 processada (nfeProc com protNFe)")),
              ProcessedNfce(processed));

    const Sale utf8 = gen.MakeSale(nfce);
    out.Write(Good(utf8.accessKey + QStringLiteral("-nfe.xml"), ImportKind::NfceBare, {utf8},
                   QStringLiteral("NFe sem protocolo, com declaração UTF-8 e sem infNFeSupl")),
              StoredNfce(utf8, NfceForm::Utf8Declaration));

    const Sale bare = gen.MakeSale(nfce);
    out.Write(Good(bare.accessKey + QStringLiteral("-sem-declaracao.xml"), ImportKind::NfceBare, {bare},
                   QStringLiteral("NFe sem protocolo e sem declaração XML")),
              bare.nfe);

    const Sale v4 = SaleWithChange(gen, sp.code);
    out.Write(Good(v4.accessKey + QStringLiteral("-procNFe-v400.xml"), ImportKind::NfceProcessed, {v4},
                   QStringLiteral("NFC-e 4.00 processada, pagamentos em detPag e troco em vTroco")),
              ProcessedNfce(v4));

    const Sale upper = gen.MakeSale(nfce);
    out.Write(Good(upper.accessKey + QStringLiteral("-NFE.XML"), ImportKind::NfceBare, {upper},
                   QStringLiteral("NFe com extensão em maiúsculas")),
              StoredNfce(upper, NfceForm::BareDeclaration));

    const Sale garbage = gen.MakeSale(nfce);
    out.Write(Good(garbage.accessKey + QStringLiteral("-lixo-inicial.xml"), ImportKind::NfceProcessed,
                   {garbage},
                   QStringLiteral("NFC-e processada precedida de marca BOM e texto antes do primeiro \"<\"")),
              "\xEF\xBB\xBFPDV-EXPORT 1.0\r\n" + ProcessedNfce(garbage));

    SaleOptions latin = named;
    const Sale latin1 = gen.MakeSale(latin);
    QStringEncoder toLatin1(QStringEncoder::Latin1);
    const QByteArray latinText = "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" +
                                 QByteArray(toLatin1(QString::fromUtf8(latin1.nfe)));
    out.Write(Good(latin1.accessKey + QStringLiteral("-iso-8859-1.xml"), ImportKind::NfceBare, {latin1},
                   QStringLiteral("NFe gravada em ISO-8859-1 com nomes acentuados")),
              latinText);

    // A SAT batch whose last coupons are cancelled afterwards, in a cancellation batch of their own.
    const CashRegister *satRegister = nullptr;
    for (const CashRegister &r : gen.CashRegisters())
        if (r.branchCode == sp.code && !r.satSerial.isEmpty()) {
            satRegister = &r;
            break;
        }
    SaleOptions sat;
    sat.kind = DocKind::Sat;
    sat.branchCode = sp.code;
    sat.registerCode = satRegister->code;
    const int batchSize = std::clamp(o.satBatchSize, 1, 50);
    const int cancelledCount = batchSize >= 3 ? 2 : 1;
    QList<Sale> coupons, cancelled;
    for (int i = 0; i < batchSize; ++i) {
        sat.status = i >= batchSize - cancelledCount ? NfceStatus::Cancelled : NfceStatus::Authorized;
        coupons.append(gen.MakeSale(sat));
        if (sat.status == NfceStatus::Cancelled)
            cancelled.append(coupons.last());
    }
    const QString batchId = coupons.first().issuedAt.toString(QStringLiteral("yyMMddHHmmss"));
    out.Write(Good(QStringLiteral("LoteCFe_%1_%2.xml").arg(satRegister->satSerial, batchId),
                   ImportKind::SatBatch, coupons,
                   QStringLiteral("Lote envCFe/LoteCFe com %1 cupons de um SAT").arg(batchSize)),
              SatBatch(coupons, batchId));
    ImportCase cancelCase =
        Good(QStringLiteral("LoteCFeCanc_%1_%2.xml").arg(satRegister->satSerial, batchId),
             ImportKind::SatCancelBatch, cancelled,
             QStringLiteral("Lote cancCFe/LoteCFeCanc cancelando %1 cupons do lote").arg(cancelled.size()));
    out.Write(cancelCase, SatCancelBatch(cancelled, batchId));

    sat.status = NfceStatus::Authorized;
    sat.withCustomer = true;
    const Sale single = gen.MakeSale(sat);
    out.Write(Good(QStringLiteral("AD") + single.accessKey + QStringLiteral(".xml"), ImportKind::SatCoupon,
                   {single}, QStringLiteral("CF-e SAT avulso como elemento raiz (outro PDV)")),
              Declaration() + single.cfe);
}

void WriteBrokenFiles(Generator &gen, FolderWriter &out)
{
    const Branch &sp = gen.Branches().first();
    SaleOptions nfce;
    nfce.kind = DocKind::Nfce;
    nfce.status = NfceStatus::Authorized;
    nfce.branchCode = sp.code;

    out.Write(
        Broken(QStringLiteral("relatorio-caixa.xml"), ImportKind::Unknown,
               QStringLiteral("Texto que não é XML (nenhum \"<\")")),
        QStringLiteral("Relatório do caixa 001\r\nTotal vendido: R$ 1.234,50\r\nOperação concluída.\r\n")
            .toUtf8());

    const Sale truncated = gen.MakeSale(nfce);
    const QByteArray whole = ProcessedNfce(truncated);
    out.Write(Broken(truncated.accessKey + QStringLiteral("-truncado.xml"), ImportKind::Unknown,
                     QStringLiteral("NFC-e processada cortada no meio da gravação")),
              whole.left(whole.size() * 3 / 5));

    SaleOptions cancelled = nfce;
    cancelled.status = NfceStatus::Cancelled;
    const Sale event = gen.MakeSale(cancelled);
    out.Write(Broken(event.accessKey + QStringLiteral("-procEventoNFe.xml"), ImportKind::Unknown,
                     QStringLiteral("Evento de cancelamento: documento que a importação não lê"),
                     kUnknownDocument),
              CancellationEvent(event));

    const Sale badNumber = gen.MakeSale(nfce);
    QByteArray badText = StoredNfce(badNumber, NfceForm::Utf8Declaration);
    const QByteArray vNF = "<vNF>" + Money(badNumber.total).toLatin1() + "</vNF>";
    badText.replace(badText.indexOf(vNF), vNF.size(), "<vNF>1.234,50</vNF>");
    out.Write(Broken(badNumber.accessKey + QStringLiteral("-valor-invalido.xml"), ImportKind::NfceBare,
                     QStringLiteral("NFe com vNF \"1.234,50\" (separador de milhar), que não converte")),
              badText);

    SaleOptions sat;
    sat.kind = DocKind::Sat;
    sat.status = NfceStatus::Authorized;
    sat.branchCode = sp.code;
    const Sale noTax = gen.MakeSale(sat);
    QByteArray noTaxText = noTax.cfe;
    const qsizetype from = noTaxText.indexOf("<imposto>");
    noTaxText.remove(from, noTaxText.indexOf("</imposto>") + int(strlen("</imposto>")) - from);
    out.Write(Broken(QStringLiteral("AD") + noTax.accessKey + QStringLiteral("-sem-imposto.xml"),
                     ImportKind::SatCoupon, QStringLiteral("CF-e SAT cujo primeiro item não tem imposto")),
              Declaration() + noTaxText);

    const Sale foreign = ForeignSale(gen, 0xF0E1D2C3ULL);
    ImportCase unknownIssuer =
        Broken(foreign.accessKey + QStringLiteral("-procNFe.xml"), ImportKind::NfceProcessed,
               QStringLiteral("NFC-e de um CNPJ que não é de nenhuma filial (sem filial padrão)"), kNoBranch);
    unknownIssuer.accessKeys = {foreign.accessKey};
    out.Write(unknownIssuer, ProcessedNfce(foreign));
}

QString KindName(ImportKind kind)
{
    switch (kind) {
    case ImportKind::NfceProcessed:
        return QStringLiteral("nfeProc");
    case ImportKind::NfceBare:
        return QStringLiteral("NFe");
    case ImportKind::SatBatch:
        return QStringLiteral("LoteCFe");
    case ImportKind::SatCancelBatch:
        return QStringLiteral("LoteCFeCanc");
    case ImportKind::SatCoupon:
        return QStringLiteral("CFe");
    case ImportKind::Unknown:
        break;
    }
    return QStringLiteral("desconhecido");
}

} // namespace

QList<ImportCase> WriteImportFolder(Generator &gen, const QString &folder, const ImportFolderOptions &options)
{
    FolderWriter out(folder);
    if (options.goodFiles)
        WriteGoodFiles(gen, out, options);
    if (options.brokenFiles)
        WriteBrokenFiles(gen, out);
    return out.Cases();
}

QByteArray ImportManifest(const QList<ImportCase> &cases)
{
    QByteArray out = "arquivo\ttipo\tresultado\tnotas\tfilial\tchaves\tdescricao\n";
    for (const ImportCase &c : cases) {
        const QStringList fields = {c.fileName,
                                    KindName(c.kind),
                                    c.imported ? QStringLiteral("importado") : QStringLiteral("erro"),
                                    QString::number(c.sales),
                                    c.branchCode,
                                    c.accessKeys.join(u','),
                                    c.description};
        out += fields.join(u'\t').toUtf8() + '\n';
    }
    return out;
}

} // namespace vnd::docgen
