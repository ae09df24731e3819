#include "server/validation.h"

#include "host/chavefiscal.h"
#include "server/docinfo.h"

#include <QLocale>
#include <QMutex>
#include <QSet>
#include <cmath>
#include <deque>

namespace vnd::server {

namespace {

bool AllDigits(const QString &s)
{
    for (const QChar c : s)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    return !s.isEmpty();
}

// The key's form as the layouts in force take it (an alphanumeric CNPJ part since 2026); a SAT key is
// stored with its leading "CFe".
bool ValidKey(const QString &key, bool sat)
{
    if (sat)
        return key.size() == 47 && key.startsWith(QLatin1String("CFe")) && ChaveAcessoNoFormato(key.mid(3));
    return ChaveAcessoNoFormato(key);
}

QString WithoutLeadingZeros(QString s)
{
    while (s.startsWith(QLatin1Char('0')))
        s.remove(0, 1);
    return s;
}

QString PadCode(const QString &code, int n)
{
    return code.size() < n && AllDigits(code) ? code.rightJustified(n, QLatin1Char('0')) : code;
}

double Round2(double v) { return std::round(v * 100.0) / 100.0; }

// A sale's document is read by the check of its validation and again by the check of its storing, a
// moment later: what it tells is a function of its bytes alone, so the last few answers are kept.
// Large documents are not kept, so the cache never holds much memory.
DocumentInfo DocumentInfoOf(const QByteArray &xml)
{
    constexpr qsizetype kLargest = 256 * 1024;
    constexpr int kKept = 8;
    struct Entry
    {
        QByteArray xml;
        DocumentInfo info;
    };
    static QMutex mutex;
    static std::deque<Entry> kept;
    if (xml.size() > kLargest)
        return ReadDocumentInfo(xml);
    {
        QMutexLocker lock(&mutex);
        for (const Entry &e : kept)
            if (e.xml == xml)
                return e.info;
    }
    DocumentInfo info = ReadDocumentInfo(xml);
    QMutexLocker lock(&mutex);
    kept.push_front(Entry{xml, info});
    if (kept.size() > kKept)
        kept.pop_back();
    return info;
}

class Checker
{
public:
    Checker(const ServerDb &db, const ImportedSale &sale, SaleResolution &out) : m_db(db), m_sale(sale), m_out(out) {}

    void Run()
    {
        if (m_sale.saleRows != 1) {
            Error(m_sale.saleRows == 0 ? QStringLiteral("O pacote da venda está vazio.")
                                       : QStringLiteral("O pacote da venda traz %1 vendas; esperada uma.").arg(m_sale.saleRows),
                  QStringLiteral("Cada documento deve ser enviado em um pacote com uma única venda."));
            return;
        }
        Document();
        Key();
        if (!m_sale.date.isValid())
            Error(QStringLiteral("Data da venda ausente ou inválida."),
                  QStringLiteral("Verifique a data de emissão do documento."));
        if (Branch())
            Register();
        Items();
        Totals();
        Payments();
        Situation();
        Customer();
    }

private:
    void Add(char type, const QString &description, const QString &help, const QString &product = {})
    {
        m_out.problems << Problem{type, product, {}, description.left(300), help.left(300)};
    }
    void Error(const QString &d, const QString &h, const QString &p = {}) { Add('E', d, h, p); }
    void Alert(const QString &d, const QString &h, const QString &p = {}) { Add('A', d, h, p); }

    void Document()
    {
        if (m_sale.document.trimmed().isEmpty()) {
            Error(QStringLiteral("Documento fiscal sem o XML."),
                  QStringLiteral("O arquivo importado deve conter a NFC-e ou o CF-e completo."));
            return;
        }
        const DocumentInfo info = DocumentInfoOf(m_sale.document);
        if (!info.utf8) {
            Error(QStringLiteral("O XML do documento não está em UTF-8."),
                  QStringLiteral("Gere o arquivo novamente no ponto de venda, em UTF-8."));
            return;
        }
        if (!info.parsed) {
            Error(QStringLiteral("XML do documento mal formado: %1.").arg(info.error),
                  QStringLiteral("O arquivo está corrompido ou incompleto; obtenha uma nova cópia no ponto de venda."));
            return;
        }
        m_out.layoutVersion = info.version.left(10);
        m_out.qrCode = info.qrCode.left(1024);
        m_out.qrSite = info.urlChave.left(255);
        const QString docKey = m_sale.sat ? info.id : info.id.mid(3);
        if (!info.id.isEmpty() && !m_sale.key.isEmpty() && docKey != m_sale.key)
            Error(QStringLiteral("A chave de acesso %1 não confere com a do XML (%2).").arg(m_sale.key, info.id),
                  QStringLiteral("O documento foi alterado ou montado com dados de outra venda."));
    }

    void Key()
    {
        if (m_sale.key.isEmpty()) {
            Error(QStringLiteral("Documento sem chave de acesso."),
                  QStringLiteral("Verifique se o arquivo é uma NFC-e ou um CF-e SAT completo."));
            return;
        }
        if (!ValidKey(m_sale.key, m_sale.sat)) {
            Error(QStringLiteral("Chave de acesso inválida: %1.").arg(m_sale.key),
                  m_sale.sat ? QStringLiteral("A chave de um CF-e é \"CFe\" seguido de 44 caracteres: 6 dígitos, "
                                              "12 dígitos ou letras maiúsculas (o CNPJ) e 26 dígitos.")
                             : QStringLiteral("A chave de uma NFC-e tem 44 caracteres: 6 dígitos, 12 dígitos ou letras "
                                              "maiúsculas (o CNPJ) e 26 dígitos."));
            return;
        }
        ServerDb::CachedRead q = m_db.Read(QStringLiteral("SELECT 1 FROM VENDA WHERE NRACESSONFCE = ?"), {m_sale.key},
                                "procurar a venda pela chave");
        if (q.next()) {
            m_out.alreadyStored = true;
            Alert(QStringLiteral("Venda já importada anteriormente (chave %1); não será gravada de novo.").arg(m_sale.key),
                  QStringLiteral("Nenhuma ação é necessária."));
        }
    }

    bool Branch()
    {
        const QString series = m_sale.series.isEmpty() ? QStringLiteral("(vazia)") : m_sale.series;
        if (m_sale.branch.isEmpty()) {
            Error(QStringLiteral("Filial e caixa não encontrados para o CNPJ %1 e a série %2.")
                      .arg(m_sale.issuerCnpj.isEmpty() ? QStringLiteral("(vazio)") : m_sale.issuerCnpj, series),
                  QStringLiteral("Cadastre a filial com este CNPJ e o caixa com esta série, ou informe a filial e o "
                                 "caixa padrão na importação."));
            return false;
        }
        ServerDb::CachedRead q = m_db.Read(QStringLiteral("SELECT NRINSJURFILI, NRCERTDIGNFCE, WSSITEUFQRCODENFC FROM FILIAL "
                                               "WHERE CDFILIAL = ?"),
                                {m_sale.branch}, "procurar a filial");
        if (!q.next()) {
            Error(QStringLiteral("Filial %1 não cadastrada.").arg(m_sale.branch),
                  QStringLiteral("Cadastre a filial ou informe uma filial cadastrada na importação."));
            return false;
        }
        m_out.certificate = q.value(1).toString();
        if (m_out.qrSite.isEmpty())
            m_out.qrSite = q.value(2).toString();
        if (!m_sale.issuerCnpj.isEmpty() && q.value(0).toString() != m_sale.issuerCnpj)
            Alert(QStringLiteral("O CNPJ do emitente %1 não é o da filial %2; a venda foi atribuída à filial informada "
                                 "na importação.")
                      .arg(m_sale.issuerCnpj, m_sale.branch),
                  QStringLiteral("Confira o cadastro do CNPJ e da série da filial."));
        return true;
    }

    void Register()
    {
        QString code = PadCode(m_sale.registerCode, 3);
        if (code.isEmpty() && !m_sale.series.isEmpty()) {
            ServerDb::CachedRead q =
                m_sale.sat ? m_db.Read(QStringLiteral("SELECT CDCAIXA FROM CAIXA WHERE CDFILIAL = ? AND CDSERIESAT = ? "
                                                      "ORDER BY CDCAIXA"),
                                       {m_sale.branch, m_sale.series}, "procurar o caixa")
                           : m_db.Read(QStringLiteral("SELECT CDCAIXA FROM CAIXA WHERE CDFILIAL = ? AND "
                                                      "LTRIM(CDSERIENFCE, '0') = ? ORDER BY CDCAIXA"),
                                       {m_sale.branch, WithoutLeadingZeros(m_sale.series)}, "procurar o caixa");
            if (q.next())
                code = q.value(0).toString();
        }
        if (code.isEmpty() && m_sale.sat)
            code = PadCode(m_sale.packetRegister, 3);
        if (code.isEmpty()) {
            Error(QStringLiteral("Caixa não encontrado na filial %1 para a série %2.")
                      .arg(m_sale.branch, m_sale.series.isEmpty() ? QStringLiteral("(vazia)") : m_sale.series),
                  QStringLiteral("Cadastre a série no caixa ou informe o caixa padrão na importação."));
            return;
        }
        ServerDb::CachedRead q = m_db.Read(QStringLiteral("SELECT 1 FROM CAIXA WHERE CDFILIAL = ? AND CDCAIXA = ?"),
                                {m_sale.branch, code}, "procurar o caixa");
        if (!q.next()) {
            Error(QStringLiteral("Caixa %1 não cadastrado na filial %2.").arg(code, m_sale.branch),
                  QStringLiteral("Cadastre o caixa ou informe um caixa cadastrado na importação."));
            return;
        }
        m_out.registerCode = code;
    }

    void Items()
    {
        if (m_sale.items.isEmpty()) {
            Error(QStringLiteral("Venda sem itens."), QStringLiteral("O documento deve trazer ao menos um item (det)."));
            return;
        }
        QSet<QString> sequences, codes;
        for (const ImportedItem &it : m_sale.items) {
            const QString n = it.sequence.isEmpty() ? QStringLiteral("(sem número)") : it.sequence;
            if (it.sequence.isEmpty() || sequences.contains(it.sequence))
                Error(QStringLiteral("Item %1 repetido ou sem número na venda.").arg(n),
                      QStringLiteral("Cada item (det) deve ter um nItem próprio."), it.product);
            sequences.insert(it.sequence);
            if (it.product.isEmpty())
                Error(QStringLiteral("Item %1 sem código de produto.").arg(n),
                      QStringLiteral("Informe o código do produto (cProd) no documento."));
            else
                codes.insert(it.product);
            if (!it.quantity || !std::isfinite(*it.quantity) || *it.quantity <= 0)
                Error(QStringLiteral("Item %1: quantidade inválida.").arg(n),
                      QStringLiteral("A quantidade (qCom) deve ser maior que zero."), it.product);
            if (!it.unitPrice || !std::isfinite(*it.unitPrice) || *it.unitPrice < 0)
                Error(QStringLiteral("Item %1: valor unitário inválido.").arg(n),
                      QStringLiteral("O valor unitário (vUnCom) não pode ser negativo nem faltar."), it.product);
        }
        QSet<QString> registered;
        const QStringList list(codes.begin(), codes.end());
        for (int start = 0; start < list.size(); start += 400) {
            QString marks;
            QVariantList binds;
            for (int i = start; i < std::min<int>(start + 400, int(list.size())); ++i) {
                marks += marks.isEmpty() ? QStringLiteral("?") : QStringLiteral(", ?");
                binds << list[i];
            }
            // One statement per count of codes (at most 400 texts) is kept for the thread.
            ServerDb::CachedRead q = m_db.Read(
                QStringLiteral("SELECT CDPRODUTO FROM PRODUTO WHERE CDPRODUTO IN (%1)").arg(marks), binds,
                "procurar os produtos");
            while (q.next())
                registered.insert(q.value(0).toString());
        }
        QSet<QString> reported;
        for (const ImportedItem &it : m_sale.items) {
            if (it.product.isEmpty() || registered.contains(it.product) || reported.contains(it.product))
                continue;
            reported.insert(it.product);
            Error(QStringLiteral("Produto %1 não cadastrado.").arg(it.product),
                  QStringLiteral("Cadastre o produto com este código e importe o arquivo de novo."), it.product);
        }
    }

    void Totals()
    {
        if (!m_sale.total || !std::isfinite(*m_sale.total) || *m_sale.total < 0) {
            Error(QStringLiteral("Venda sem valor total válido."), QStringLiteral("Verifique o total (vNF/vCFe) do documento."));
            return;
        }
        double sum = 0;
        for (const ImportedItem &it : m_sale.items)
            sum += Round2(it.quantity.value_or(0) * it.unitPrice.value_or(0)) - it.discount + it.surcharge;
        // A cent per item covers points of sale that truncate instead of rounding each item.
        const double tolerance = 0.01 * std::max<qsizetype>(1, m_sale.items.size()) + 1e-6;
        if (!m_sale.items.isEmpty() && std::fabs(sum - *m_sale.total) > tolerance)
            Alert(QStringLiteral("A soma dos itens (%1) difere do total da venda (%2).")
                      .arg(FormatMoney(sum), FormatMoney(*m_sale.total)),
                  QStringLiteral("Confira descontos, acréscimos, frete e outras despesas do documento."));
    }

    void Payments()
    {
        ServerDb::CachedRead q = m_db.Read(QStringLiteral("SELECT IDTIPOPGTOFISC, CDTIPORECE FROM TIPORECE WHERE IDTIPOPGTOFISC IS "
                                               "NOT NULL ORDER BY CDTIPORECE"),
                                {}, "ler os tipos de recebimento");
        while (q.next()) {
            const QString fiscal = q.value(0).toString();
            if (!m_out.receiptTypes.contains(fiscal))
                m_out.receiptTypes.insert(fiscal, q.value(1).toString());
        }
        double paid = 0;
        QSet<QString> unknown;
        for (const ImportedPayment &p : m_sale.payments) {
            if (p.IsChange(m_sale.sat))
                continue;
            paid += p.amount;
            if (!m_out.receiptTypes.contains(p.code) && !unknown.contains(p.code)) {
                unknown.insert(p.code);
                Alert(QStringLiteral("Forma de pagamento %1 sem tipo de recebimento cadastrado.")
                          .arg(p.code.isEmpty() ? QStringLiteral("(vazia)") : p.code),
                      QStringLiteral("Associe o código fiscal a um tipo de recebimento para filtrar a venda por ele."));
            }
        }
        if (m_sale.total && paid + 0.005 < *m_sale.total)
            Alert(QStringLiteral("Os pagamentos (%1) não cobrem o total da venda (%2).")
                      .arg(FormatMoney(paid), FormatMoney(*m_sale.total)),
                  QStringLiteral("Confira as formas de pagamento do documento."));
    }

    void Situation()
    {
        if (m_sale.environment == QLatin1String("2"))
            Alert(QStringLiteral("Documento emitido em ambiente de homologação (teste), sem valor fiscal."),
                  QStringLiteral("Verifique se o ponto de venda está configurado para o ambiente de produção."));
        if (m_sale.sat) {
            m_out.statusFlag = QStringLiteral("A");
            return;
        }
        const QString cStat = m_sale.statusText.section(QLatin1Char(' '), 0, 0).trimmed();
        if (cStat.isEmpty() && m_sale.protocol.isEmpty()) {
            m_out.statusFlag = QStringLiteral("P");
            Alert(QStringLiteral("NFC-e sem protocolo de autorização: pendente de transmissão."),
                  QStringLiteral("Transmita a NFC-e pela tela Transmissão de NFC-e."));
        } else if (cStat == QLatin1String("100") || cStat == QLatin1String("150")) {
            m_out.statusFlag = QStringLiteral("A");
        } else if (cStat == QLatin1String("101") || cStat == QLatin1String("151") || cStat == QLatin1String("155")) {
            m_out.statusFlag = QStringLiteral("C");
            Alert(QStringLiteral("NFC-e cancelada: %1.").arg(m_sale.statusText),
                  QStringLiteral("A venda é gravada como cancelada."));
        } else {
            m_out.statusFlag = QStringLiteral("R");
            Alert(QStringLiteral("NFC-e não autorizada pela SEFAZ: %1.")
                      .arg(m_sale.statusText.isEmpty() ? QStringLiteral("sem situação") : m_sale.statusText),
                  QStringLiteral("Corrija e transmita a NFC-e pela tela Transmissão de NFC-e."));
        }
    }

    void Customer()
    {
        if (m_sale.consumerCpf.isEmpty())
            return;
        ServerDb::CachedRead q = m_db.Read(QStringLiteral("SELECT CDCLIENTE FROM CLIENTE WHERE NRINSJURCLIE = ? ORDER BY CDCLIENTE"),
                                {m_sale.consumerCpf}, "procurar o cliente");
        if (q.next())
            m_out.customerCode = q.value(0).toString();
    }

    const ServerDb &m_db;
    const ImportedSale &m_sale;
    SaleResolution &m_out;
};

} // namespace

bool SaleResolution::HasErrors() const
{
    for (const Problem &p : problems)
        if (p.type == 'E')
            return true;
    return false;
}

QString SaleResolution::ErrorSummary() const
{
    QStringList parts;
    for (const Problem &p : problems)
        if (p.type == 'E')
            parts << p.description;
    return parts.join(QLatin1Char(' '));
}

SaleResolution CheckSale(const ServerDb &db, const ImportedSale &sale)
{
    SaleResolution out;
    Checker(db, sale, out).Run();
    return out;
}

QString FormatMoney(double value)
{
    static const QLocale brazil(QLocale::Portuguese, QLocale::Brazil);
    return QStringLiteral("R$ ") + brazil.toString(value, 'f', 2);
}

} // namespace vnd::server
