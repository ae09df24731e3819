#include "export/core/nfceassembly.h"

#include "export/core/xmlchecks.h"
#include "host/errors.h"
#include "host/hostutil.h"
#include "host/recordset.h"

#include <cctype>
#include <cstring>
#include <string_view>

namespace vnd::assembly {

namespace {

const QByteArray kBareDeclaration = QByteArrayLiteral("<?xml version=\"1.0\"?>");
const QByteArray kUtf8Declaration = QByteArrayLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
constexpr int kEnviNFeHead = 117;
const QByteArray kEnviNFeTail = QByteArrayLiteral("</enviNFe>");

// Where needle first occurs in text at or after from, or -1. glibc's memmem is several times faster than
// QByteArray::indexOf over a whole note, and each note is searched several times here.
qsizetype Find(const QByteArray &text, std::string_view needle, qsizetype from = 0)
{
    if (from < 0 || from > text.size())
        return -1;
    const void *at = memmem(text.constData() + from, size_t(text.size() - from), needle.data(), needle.size());
    return at ? static_cast<const char *>(at) - text.constData() : -1;
}

[[noreturn]] void Missing(const QString &what)
{
    throw Exception(QStringLiteral("O XML armazenado da NFC-e %1").arg(what));
}

// Value of the Id attribute of the first infNFe start tag, or empty.
QByteArray InfNFeId(const QByteArray &x)
{
    const qsizetype tag = Find(x, "<infNFe");
    if (tag < 0)
        return {};
    const qsizetype end = x.indexOf('>', tag);
    const QByteArray start = x.mid(tag, end < 0 ? -1 : end - tag);
    for (const char quote : {'"', '\''}) {
        const QByteArray marker = QByteArray(" Id=") + quote;
        const qsizetype at = start.indexOf(marker);
        if (at >= 0) {
            const qsizetype from = at + marker.size();
            const qsizetype to = start.indexOf(quote, from);
            return to < 0 ? QByteArray() : start.mid(from, to - from);
        }
    }
    return {};
}

// The stored document must describe the sale of the row: otherwise the protocol would be attached to
// another invoice.
void CheckDocumentKey(const QByteArray &x, const QByteArray &key)
{
    QByteArray id = InfNFeId(x);
    if (id.startsWith("NFe"))
        id = id.mid(3);
    if (id.isEmpty())
        Missing(QStringLiteral("não contém a chave de acesso (atributo Id de infNFe)."));
    if (id != key.trimmed())
        throw Exception(QStringLiteral("A chave de acesso do XML armazenado (%1) não é a chave da venda.")
                            .arg(QString::fromUtf8(id)));
}

QByteArray Element(const char *name, const QByteArray &text)
{
    return QByteArray("<") + name + '>' + EscapeMarkup(text) + "</" + name + '>';
}

} // namespace

SaleRow ReadSaleRow(TClientDataSet &cds)
{
    SaleRow r;
    auto b = [&cds](const char *name) { return cds.FieldByName(QString::fromLatin1(name)).AsBytes(); };
    r.branch = b("CDFILIAL");
    r.cashRegister = b("CDCAIXA");
    r.saleDateText = cds.FieldByName(QStringLiteral("DTENTRVENDA")).DisplayText().toUtf8();
    r.kind = b("IDTPEMISVEND");
    r.accessKey = b("NRACESSONFCE");
    r.document = b("DSARQXMLNFCE");
    r.cancelDocument = b("DSARQXMLCANCNFCE");
    r.status = b("IDSTATUSNFCE");
    r.qrCode = b("DSQRCODENFCE");
    r.qrSite = b("WSSITEUFQRCODENFC");
    r.version = b("CDVERSAOXMLNFCE");
    r.protocol = b("NRPROTOCOLONFCE");
    r.protocolTime = cds.FieldByName(QStringLiteral("DTHRPROTOCONFCE")).AsDateTime();
    r.environment = b("IDTPAMBNFCE");
    r.issuerCnpj = b("NRINSJURIEST");
    r.cancelReason = b("DSRAZAOCANCNFCE");
    r.cancelTime = cds.FieldByName(QStringLiteral("DTHRPROTOCOCANC")).AsDateTime();
    r.cancelProtocol = b("NRPROTOCOLOCANC");
    auto index = [&cds](const char *name) { return cds.FieldIndex(QString::fromLatin1(name)); };
    if (const int i = index("CDSERIE"); i >= 0)
        r.series = cds.Fields(i).AsBytes().trimmed();
    if (const int i = index("NRNOTAFISCALCE"); i >= 0)
        r.number = cds.Fields(i).AsBytes().trimmed();
    if (const int i = index("VRTOTVENDA"); i >= 0)
        r.value = cds.Fields(i).Value().toDouble();
    return r;
}

QByteArray FiscalDateTime(const QDateTime &value, const QByteArray &offset)
{
    return value.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")).toLatin1() + offset;
}

QByteArray DocumentOffset(const QByteArray &document)
{
    const QByteArray fallback = QByteArrayLiteral("-03:00");
    const qsizetype open = Find(document, "<dhEmi>");
    const qsizetype close = open < 0 ? -1 : Find(document, "</dhEmi>", open);
    if (close < 0)
        return fallback;
    const QByteArray dh = document.mid(open + 7, close - open - 7).trimmed();
    // yyyy-mm-ddThh:mm:ss±hh:mm; anything else tells nothing.
    if (dh.size() != 25)
        return fallback;
    const QByteArray offset = dh.right(6);
    const bool form = (offset[0] == '-' || offset[0] == '+') && offset[3] == ':' &&
                      std::isdigit(uchar(offset[1])) && std::isdigit(uchar(offset[2])) &&
                      std::isdigit(uchar(offset[4])) && std::isdigit(uchar(offset[5]));
    const int hours = form ? (offset[1] - '0') * 10 + (offset[2] - '0') : 99;
    return form && hours <= 14 ? offset : fallback;
}

QByteArray WithoutByteOrderMark(const QByteArray &text)
{
    return text.startsWith("\xEF\xBB\xBF") ? text.mid(3) : text;
}

QByteArray EscapeMarkup(const QByteArray &text)
{
    if (text.indexOf('&') < 0 && text.indexOf('<') < 0 && text.indexOf('>') < 0 && text.indexOf('"') < 0)
        return text;
    QByteArray out;
    out.reserve(text.size() + 16);
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        default: out += c;
        }
    }
    return out;
}

QByteArray EscapeCData(const QByteArray &text)
{
    QByteArray out = text;
    return out.replace("]]>", "]]]]><![CDATA[>");
}

QByteArray RemoveCrLf(QByteArray text)
{
    // Most documents have no CR at all: found by memchr, and the text is not touched.
    qsizetype from = text.indexOf('\r');
    if (from < 0)
        return text;
    char *d = text.data();
    qsizetype n = from;
    for (qsizetype i = from; i < text.size(); ++i) {
        if (d[i] == '\r' && i + 1 < text.size() && d[i + 1] == '\n') {
            ++i; // the pair goes
            continue;
        }
        d[n++] = d[i];
    }
    text.truncate(n);
    return text;
}

QByteArray ProcessedNfce(const SaleRow &row)
{
    QByteArray x = WithoutByteOrderMark(row.document);
    if (EmptyUtf8(x))
        Missing(QStringLiteral("não foi encontrado no banco de dados."));
    CheckDocumentKey(x, row.accessKey);

    if (Find(x, "<nfeProc") < 0) {
        bool supplement = true;
        if (x.startsWith(kBareDeclaration)) {
            x.remove(0, kBareDeclaration.size());
            const qsizetype open = Find(x, "<infNFeSupl>");
            const qsizetype close = Find(x, "</infNFeSupl>");
            if (open < 0 || close < open)
                Missing(QStringLiteral("não contém o bloco infNFeSupl esperado após a declaração."));
            x = x.left(open) + x.mid(close + 13);
        }
        if (x.startsWith("<enviNFe")) {
            if (x.size() < kEnviNFeHead + kEnviNFeTail.size() || !x.mid(kEnviNFeHead).startsWith("<NFe") ||
                !x.endsWith(kEnviNFeTail))
                Missing(QStringLiteral("está num lote enviNFe fora do formato esperado (cabeçalho de 117 caracteres)."));
            x = x.mid(kEnviNFeHead, x.size() - kEnviNFeHead - kEnviNFeTail.size());
            supplement = false;
        }
        // A document that already carries its supplement must not get a second one.
        if (supplement && Find(x, "<infNFeSupl") >= 0)
            supplement = false;
        if (supplement) {
            const qsizetype end = Find(x, "</infNFe>");
            if (end < 0)
                Missing(QStringLiteral("não contém </infNFe>."));
            // urlChave exists from layout 4.00 on; a 3.10 document carrying it would not validate.
            const bool withUrl = row.version.trimmed().toDouble() >= 4.0;
            const QByteArray block = "<infNFeSupl><qrCode><![CDATA[" + EscapeCData(row.qrCode) + "]]></qrCode>" +
                                     (withUrl ? Element("urlChave", row.qrSite) : QByteArray()) + "</infNFeSupl>";
            x.insert(end + 9, block);
        }
        CheckNfeParses(x, row.version);
        // nfeProc brings its own declaration; any declaration of the document goes.
        if (x.startsWith(kUtf8Declaration))
            x.remove(0, kUtf8Declaration.size());
        else if (x.startsWith("<?xml")) {
            const qsizetype end = Find(x, "?>");
            x.remove(0, end + 2);
        }
        const qsizetype digest = Find(x, "<DigestValue>");
        const qsizetype digestEnd = digest < 0 ? -1 : Find(x, "</DigestValue>", digest);
        if (digestEnd < 0)
            Missing(QStringLiteral("não contém <DigestValue>."));
        const QByteArray g = x.mid(digest + 13, digestEnd - digest - 13);
        if (row.protocol.trimmed().isEmpty() || !row.protocolTime.isValid())
            throw Exception(QStringLiteral("A NFC-e não tem protocolo de autorização."));

        const QByteArray v = EscapeMarkup(row.version);
        const QByteArray p = EscapeMarkup(row.protocol);
        const QByteArray prot = QByteArray("<protNFe xmlns=\"") + kNfeNamespace + "\" versao=\"" + v + "\" >" +
                                "<infProt Id=\"ID" + p + "\">" + Element("tpAmb", row.environment) +
                                Element("verAplic", row.version) + Element("chNFe", row.accessKey) +
                                Element("dhRecbto", FiscalDateTime(row.protocolTime, DocumentOffset(x))) + Element("nProt", row.protocol) +
                                Element("digVal", g) + "<cStat>100</cStat><xMotivo>Autorizado o uso da NF-e</xMotivo>" +
                                "</infProt></protNFe>";
        QByteArray out;
        out.reserve(x.size() + prot.size() + 160);
        out += kUtf8Declaration;
        out += "<nfeProc versao=\"" + v + "\" xmlns=\"" + kNfeNamespace + "\">";
        out += x;
        out += prot;
        out += "</nfeProc>";
        x = std::move(out);
    }
    return RemoveCrLf(std::move(x));
}

QByteArray ProcessedCancellation(const SaleRow &row)
{
    if (!EmptyUtf8(row.cancelDocument))
        return RemoveCrLf(WithoutByteOrderMark(row.cancelDocument));
    if (row.cancelProtocol.trimmed().isEmpty() || !row.cancelTime.isValid())
        throw Exception(QStringLiteral("A NFC-e cancelada não tem o protocolo de cancelamento."));
    return RemoveCrLf(BuildCancellationEvent(row));
}

void CheckPathPart(const QByteArray &value, const QString &field)
{
    const QString text = QString::fromUtf8(value);
    bool bad = text.isEmpty() || text == QLatin1String(".") || text.contains(QLatin1String("..")) ||
               text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('\\')) || text.contains(QLatin1Char(':'));
    for (const QChar c : text)
        bad = bad || c.unicode() < 0x20 || c.unicode() == 0x7F;
    if (bad)
        throw Exception(QStringLiteral("%1 inválido para nome de pasta ou arquivo: '%2'").arg(field, text));
}

QString SaleSubFolder(const SaleRow &row)
{
    CheckPathPart(row.branch, QStringLiteral("Filial"));
    CheckPathPart(row.cashRegister, QStringLiteral("Caixa"));
    const QString date = QString::fromUtf8(row.saleDateText);
    if (date.size() < 10 || date[2] != QLatin1Char('/') || date[5] != QLatin1Char('/'))
        throw Exception(QStringLiteral("Data da venda inválida: '%1'").arg(date));
    const QString day = date.mid(6, 4) + QLatin1Char('-') + date.mid(3, 2) + QLatin1Char('-') + date.mid(0, 2);
    CheckPathPart(day.toUtf8(), QStringLiteral("Data da venda"));
    return QString::fromUtf8(row.branch) + QLatin1Char('/') + QString::fromUtf8(row.cashRegister) + QLatin1Char('/') + day;
}

QString NfceFileName(const SaleRow &row)
{
    CheckPathPart(row.accessKey, QStringLiteral("Chave de acesso"));
    return QStringLiteral("NFCe") + QString::fromUtf8(row.accessKey) + QStringLiteral("-pro-rec.xml");
}

QString NfceCancelFileName(const SaleRow &row)
{
    CheckPathPart(row.accessKey, QStringLiteral("Chave de acesso"));
    return QStringLiteral("NFCe") + QString::fromUtf8(row.accessKey) + QStringLiteral("-pro-can.xml");
}

static QString SatKeyPart(const SaleRow &row)
{
    const QByteArray part = row.accessKey.mid(3, 44);
    CheckPathPart(part, QStringLiteral("Chave de acesso"));
    return QString::fromUtf8(part);
}

QString SatFileName(const SaleRow &row) { return QStringLiteral("AD") + SatKeyPart(row) + QStringLiteral(".xml"); }

QString SatCancelFileName(const SaleRow &row) { return QStringLiteral("ADC") + SatKeyPart(row) + QStringLiteral(".xml"); }

QList<SaleFile> SaleFiles(const SaleRow &row)
{
    QList<SaleFile> files;
    if (row.IsNfce()) {
        files.append({NfceFileName(row), ProcessedNfce(row)});
        if (row.IsCancelled())
            files.append({NfceCancelFileName(row), ProcessedCancellation(row),
                          EmptyUtf8(row.cancelDocument)});
        return files;
    }
    if (row.document.trimmed().isEmpty())
        throw Exception(QStringLiteral("O XML armazenado do CF-e SAT não foi encontrado no banco de dados."));
    files.append({SatFileName(row), RemoveCrLf(row.document)});
    if (row.IsCancelled() && !row.cancelDocument.trimmed().isEmpty())
        files.append({SatCancelFileName(row), RemoveCrLf(row.cancelDocument)});
    return files;
}

} // namespace vnd::assembly
