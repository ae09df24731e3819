// The generator proper: the sale sequence. Every value of a sale is settled here (numbering, items,
// taxes, payments, protocol columns); the writers only turn those values into documents.

#include "server/docgen/docgen_p.h"
#include "server/docgen/fiscalcodes.h"

#include "host/errors.h"

#include <QRegularExpression>

namespace vnd::docgen
{

namespace
{

QString Pad(qint64 value, int width)
{
    return QStringLiteral("%1").arg(value, width, 10, QChar(u'0'));
}

const QList<const char *> kCancelReasons = {
    "Cliente desistiu da compra após a emissão do cupom.",
    "Erro na digitação da quantidade do produto pelo operador.",
    "Venda registrada em duplicidade no caixa.",
    "Forma de pagamento informada incorretamente, venda refeita.",
    "Produto com preço divergente da gôndola; cliente não aceitou.",
    "Cartão recusado após a emissão do documento fiscal.",
};

struct Rejection {
    const char *code, *text;
};

const QList<Rejection> kRejections = {
    {"539", "Rejeição: Duplicidade de NF-e, com diferença na Chave de Acesso"},
    {"778", "Rejeição: Informado NCM inexistente"},
    {"225", "Rejeição: Falha no Schema XML da NFe"},
    {"704", "Rejeição: NFC-e com Data-Hora de emissão atrasada"},
    {"464", "Rejeição: Código de Hash no QR-Code difere do calculado"},
};

// Share of a value among items in proportion to their bases; the cents lost by rounding down go to the
// first items that still have room, so the shares add up to the value exactly.
QList<qint64> Spread(qint64 value, const QList<qint64> &bases)
{
    qint64 sum = 0;
    for (qint64 b : bases)
        sum += b;
    QList<qint64> shares(bases.size(), 0);
    if (sum <= 0)
        return shares;
    qint64 given = 0;
    for (int i = 0; i < bases.size(); ++i) {
        shares[i] = value * bases[i] / sum;
        given += shares[i];
    }
    for (int i = 0; given < value; i = (i + 1) % bases.size())
        if (shares[i] < bases[i]) {
            ++shares[i];
            ++given;
        }
    return shares;
}

// The consumer's estimate of all taxes (Law 12.741) varies by product; a stable rate per NCM.
int ApproxTaxRate(const QString &ncm)
{
    // Unsigned, so that the hash of a code wraps around instead of overflowing; the whole 32 bits are
    // taken, which gives the rates of the data sets made so far.
    unsigned sum = 0;
    for (QChar c : ncm)
        sum = sum * 31u + c.unicode();
    return 1300 + int(sum % 2200u);
}

QString ProtocolNumber(Random &rng, int ufCode, const QDateTime &when)
{
    return QStringLiteral("1") + Pad(ufCode, 2) + when.toString(QStringLiteral("yy")) + rng.Digits(10);
}

} // namespace

QString Sale::StoredAccessKey() const
{
    return kind == DocKind::Nfce ? accessKey : QStringLiteral("CFe") + accessKey;
}

QString Sale::StatusFlag() const
{
    switch (status) {
    case NfceStatus::Authorized:
        return QStringLiteral("A");
    case NfceStatus::Cancelled:
        return QStringLiteral("C");
    case NfceStatus::Pending:
        return QStringLiteral("P");
    case NfceStatus::Rejected:
        return QStringLiteral("R");
    }
    return {};
}

QByteArray Sale::StoredDocument(NfceForm form) const
{
    return kind == DocKind::Nfce ? StoredNfce(*this, form) : cfe;
}

Generator::Generator(quint64 seed, const MasterOptions &options)
    : m_state(std::make_unique<State>(seed, options))
{
    BuildMasterData(*m_state);
    m_state->clock = QDateTime(QDate(2016, 5, 2), QTime(8, 0));
}

Generator::~Generator() = default;

const QList<Company> &Generator::Companies() const
{
    return m_state->companies;
}
const QList<Branch> &Generator::Branches() const
{
    return m_state->branches;
}
const QList<CashRegister> &Generator::CashRegisters() const
{
    return m_state->registers;
}
const QList<Customer> &Generator::Customers() const
{
    return m_state->customers;
}
const QList<ReceiptType> &Generator::ReceiptTypes() const
{
    return m_state->receiptTypes;
}
const QList<Product> &Generator::Products() const
{
    return m_state->products;
}

const Branch &Generator::BranchByCode(const QString &code) const
{
    for (const Branch &b : m_state->branches)
        if (b.code == code)
            return b;
    throw Exception(QStringLiteral("Filial \"%1\" não existe nos dados de demonstração.").arg(code));
}

const CashRegister &Generator::Register(const QString &branchCode, const QString &code) const
{
    for (const CashRegister &r : m_state->registers)
        if (r.branchCode == branchCode && r.code == code)
            return r;
    throw Exception(QStringLiteral("Caixa \"%1\" da filial \"%2\" não existe nos dados de demonstração.")
                        .arg(code, branchCode));
}

void Generator::SetClock(const QDateTime &when)
{
    m_state->clock = when;
}

QList<Sale> Generator::MakeSales(int count, const SaleOptions &options)
{
    QList<Sale> sales;
    sales.reserve(count);
    for (int i = 0; i < count; ++i)
        sales.append(MakeSale(options));
    return sales;
}

namespace
{

// Picks the register of a sale from the options: the one named, or one drawn among those that can
// issue the requested kind.
const CashRegister &ChooseRegister(const Generator &gen, Random &rng, const SaleOptions &o)
{
    if (!o.registerCode.isEmpty() && o.branchCode.isEmpty())
        throw Exception(QStringLiteral("Informe a filial do caixa \"%1\".").arg(o.registerCode));
    if (!o.registerCode.isEmpty())
        return gen.Register(o.branchCode, o.registerCode);
    QList<const CashRegister *> candidates;
    for (const CashRegister &r : gen.CashRegisters()) {
        if (!o.branchCode.isEmpty() && r.branchCode != o.branchCode)
            continue;
        if (o.kind == DocKind::Sat && r.satSerial.isEmpty())
            continue;
        candidates.append(&r);
    }
    if (candidates.isEmpty()) {
        if (!o.branchCode.isEmpty())
            gen.BranchByCode(o.branchCode); // names an unknown branch
        throw Exception(
            QStringLiteral("Nenhum caixa emite CF-e SAT%1 nos dados de demonstração.")
                .arg(o.branchCode.isEmpty() ? QString() : QStringLiteral(" na filial ") + o.branchCode));
    }
    return *candidates.at(rng.Between(0, candidates.size() - 1));
}

QDateTime NextClock(Random &rng, QDateTime clock)
{
    clock = clock.addSecs(rng.Between(60, 1500));
    if (clock.time() > QTime(21, 30))
        clock = QDateTime(clock.date().addDays(1), QTime(7, 30).addSecs(rng.Between(0, 1800)));
    return clock;
}

void MakeItems(const Generator &gen, Random &rng, const SaleOptions &o, const Branch &branch, Sale &s)
{
    const int maxItems = s.kind == DocKind::Sat ? 500 : 990;
    if (o.minItems < 1 || o.maxItems < o.minItems || o.maxItems > maxItems)
        throw Exception(
            QStringLiteral("Quantidade de itens inválida: de %1 a %2.").arg(o.minItems).arg(o.maxItems));
    const QList<Product> &products = gen.Products();
    const int count = int(rng.Between(o.minItems, o.maxItems));
    for (int n = 1; n <= count; ++n) {
        const Product &p = products.at(rng.Between(0, products.size() - 1));
        SaleItem it;
        it.number = n;
        it.productCode = p.code;
        it.productName = p.name;
        it.ean = p.ean;
        it.ncm = p.ncm;
        it.cest = p.cest;
        it.cfop = p.cfop;
        it.unit = p.unit;
        // Scales weigh in grams; counted goods are mostly one unit.
        it.quantity =
            p.weighed ? rng.Between(150, 2500) * 10 : (rng.Chance(65) ? 1 : rng.Between(2, 6)) * 10000;
        it.unitPrice = p.price;
        it.gross = RoundDiv(it.quantity * it.unitPrice, 10000);
        if (rng.Chance(8))
            it.discount = RoundDiv(it.gross * rng.Between(5, 15), 100);
        if (rng.Chance(3))
            it.surcharge = RoundDiv(it.gross, 10); // service charge
        it.icmsRate = branch.crt == 3 && it.cfop == QStringLiteral("5102") ? p.icmsRate : 0;
        s.items.append(it);
    }

    // A discount or surcharge on the subtotal: the SAT keeps it apart (vRatDesc, vRatAcr), an NFC-e
    // spreads it into the items' own discount.
    QList<qint64> bases;
    for (const SaleItem &it : s.items)
        bases.append(it.gross - it.discount + it.surcharge);
    qint64 baseTotal = 0;
    for (qint64 b : bases)
        baseTotal += b;
    if (rng.Chance(12)) {
        const QList<qint64> shares = Spread(RoundDiv(baseTotal * rng.Between(2, 10), 100), bases);
        for (int i = 0; i < s.items.size(); ++i)
            (s.kind == DocKind::Sat ? s.items[i].ratedDiscount : s.items[i].discount) += shares[i];
        if (s.kind == DocKind::Sat)
            for (qint64 v : shares)
                s.subtotalDiscount += v;
    } else if (s.kind == DocKind::Sat && rng.Chance(3)) {
        const QList<qint64> shares = Spread(RoundDiv(baseTotal * 5, 100), bases);
        for (int i = 0; i < s.items.size(); ++i) {
            s.items[i].ratedSurcharge = shares[i];
            s.subtotalSurcharge += shares[i];
        }
    }

    for (SaleItem &it : s.items) {
        it.net = it.gross - it.discount + it.surcharge - it.ratedDiscount + it.ratedSurcharge;
        if (it.icmsRate > 0) {
            it.icmsBase = it.net;
            it.icms = RoundDiv(it.net * it.icmsRate, 10000);
        }
        if (branch.crt == 3) {
            it.pis = RoundDiv(it.net * 165, 10000);
            it.cofins = RoundDiv(it.net * 760, 10000);
        }
        it.approxTaxes = RoundDiv(it.net * ApproxTaxRate(it.ncm), 10000);
        s.productsTotal += it.gross;
        s.discountTotal += it.discount;
        s.surchargeTotal += it.surcharge;
        s.total += it.net;
        s.icmsBaseTotal += it.icmsBase;
        s.icmsTotal += it.icms;
        s.pisTotal += it.pis;
        s.cofinsTotal += it.cofins;
        s.approxTaxesTotal += it.approxTaxes;
    }
}

void MakePayments(const Generator &gen, Random &rng, Sale &s)
{
    const QList<ReceiptType> &types = gen.ReceiptTypes();
    const ReceiptType &cash = types.at(0);
    auto payment = [](const ReceiptType &t, qint64 amount) {
        return SalePayment{t.code, t.name, t.fiscalCode, amount};
    };
    auto drawOther = [&]() -> const ReceiptType & {
        const int roll = int(rng.Between(0, 99));
        return roll < 45 ? types.at(2) : roll < 85 ? types.at(3) : types.at(rng.Between(1, types.size() - 1));
    };
    // Cash is handed in notes; the till gives the change back.
    auto tendered = [&](qint64 due) {
        if (!rng.Chance(55))
            return due;
        static const QList<qint64> notes = {200, 500, 1000, 2000, 5000, 10000};
        const qint64 note = notes.at(rng.Between(0, notes.size() - 1));
        return (due + note - 1) / note * note;
    };
    if (s.total >= 200 && rng.Chance(15)) {
        const qint64 first = std::clamp<qint64>(RoundDiv(s.total * rng.Between(20, 80), 100), 1, s.total - 1);
        s.payments.append(payment(drawOther(), first));
        const qint64 rest = s.total - first;
        const qint64 handed = tendered(rest);
        s.payments.append(payment(cash, handed));
        s.change = handed - rest;
    } else if (rng.Chance(40)) {
        const qint64 handed = tendered(s.total);
        s.payments.append(payment(cash, handed));
        s.change = handed - s.total;
    } else {
        s.payments.append(payment(drawOther(), s.total));
    }
}

} // namespace

Sale Generator::MakeSale(const SaleOptions &o)
{
    State &st = *m_state;
    Random &rng = st.sales;
    const CashRegister &reg = ChooseRegister(*this, rng, o);
    const Branch &branch = BranchByCode(reg.branchCode);

    Sale s;
    s.kind = o.kind.value_or(!reg.satSerial.isEmpty() && rng.Chance(50) ? DocKind::Sat : DocKind::Nfce);
    if (s.kind == DocKind::Sat && reg.satSerial.isEmpty())
        throw Exception(QStringLiteral("O caixa %1 da filial %2 não tem SAT: o CF-e só existe em São Paulo.")
                            .arg(reg.code, reg.branchCode));
    if (s.kind == DocKind::Nfce && o.layoutVersion != QStringLiteral("3.10") &&
        o.layoutVersion != QStringLiteral("4.00"))
        throw Exception(
            QStringLiteral("Versão de leiaute de NFC-e não suportada: \"%1\".").arg(o.layoutVersion));
    if (o.status) {
        s.status = *o.status;
    } else {
        const int roll = int(rng.Between(0, 99));
        s.status = roll < 84   ? NfceStatus::Authorized
                   : roll < 94 ? NfceStatus::Cancelled
                   : roll < 97 ? NfceStatus::Pending
                               : NfceStatus::Rejected;
        if (s.kind == DocKind::Sat && s.status != NfceStatus::Cancelled)
            s.status = NfceStatus::Authorized;
    }
    if (s.kind == DocKind::Sat && (s.status == NfceStatus::Pending || s.status == NfceStatus::Rejected))
        throw Exception(
            QStringLiteral("Um CF-e SAT não fica pendente nem rejeitado: o SAT autoriza na hora."));

    if (o.issuedAt) {
        s.issuedAt = *o.issuedAt;
    } else {
        s.issuedAt = st.clock;
        st.clock = NextClock(rng, st.clock);
    }
    s.branchCode = branch.code;
    s.registerCode = reg.code;
    s.companyCode = branch.companyCode;
    RegisterCounters &counters = st.counters[branch.code + reg.code];
    s.saleNumber = Pad(counters.nextSale++, 10);

    if (o.withCustomer.value_or(rng.Chance(30)) && !st.customers.isEmpty()) {
        const Customer &c = rng.Pick(st.customers);
        s.customerCode = c.code;
        s.customerName = c.name;
        s.customerCpf = c.cpf;
    } else if (!o.withCustomer.has_value() && rng.Chance(10)) {
        s.customerCpf =
            CpfWithDigits(QString::number(rng.Between(1, 9)) + rng.Digits(8)); // typed at the till
    }

    MakeItems(*this, rng, o, branch, s);
    MakePayments(*this, rng, s);

    s.environment = st.options.environment;
    s.issuerCnpj = branch.cnpj;
    s.issuerIe = branch.ie;
    const bool cancelled = s.status == NfceStatus::Cancelled;
    if (s.kind == DocKind::Nfce) {
        // An alphanumeric CNPJ exists only under layout 4.00: 3.10 was retired long before July 2026.
        const bool digitsOnly = !branch.cnpj.contains(QRegularExpression(QStringLiteral("[A-Z]")));
        s.layoutVersion = digitsOnly ? o.layoutVersion : QStringLiteral("4.00");
        s.series = QString::number(reg.nfceSeries);
        s.number = counters.nextNfce;
        counters.nextNfce = counters.nextNfce >= 999999999 ? 1 : counters.nextNfce + 1;
        s.randomCode = rng.Digits(8);
        // A pending NFC-e was issued offline, in contingency, and waits to be transmitted.
        const int emissionType = s.status == NfceStatus::Pending ? 9 : 1;
        s.accessKey = NfeAccessKey(branch.ufCode, s.issuedAt.date(), branch.cnpj, 65, reg.nfceSeries,
                                   s.number, emissionType, s.randomCode);
        if (s.status == NfceStatus::Authorized || cancelled) {
            s.protocolNumber = ProtocolNumber(rng, branch.ufCode, s.issuedAt);
            s.authorizedAt = s.issuedAt.addSecs(rng.Between(1, 9));
            s.statusCode = QStringLiteral("100");
            s.statusText = QStringLiteral("Autorizado o uso da NF-e");
        } else if (s.status == NfceStatus::Pending) {
            s.statusText = QStringLiteral("Emitida em contingência off-line, pendente de transmissão");
        } else {
            const Rejection &r = rng.Pick(kRejections);
            s.statusCode = QString::fromUtf8(r.code);
            s.statusText = QString::fromUtf8(r.text);
        }
        if (cancelled) {
            s.cancelReason = QString::fromUtf8(rng.Pick(kCancelReasons));
            s.cancelProtocolNumber = ProtocolNumber(rng, branch.ufCode, s.issuedAt);
            s.cancelledAt = s.authorizedAt.addSecs(rng.Between(120, 1500));
        }
        WriteNfceDocuments(s, branch, cancelled && o.storeCancelEvent.value_or(rng.Chance(60)));
    } else {
        s.layoutVersion = QStringLiteral("0.07");
        s.series = reg.satSerial;
        auto nextSat = [&counters]() {
            const int n = counters.nextSat;
            counters.nextSat = n >= 999999 ? 1 : n + 1;
            return n;
        };
        s.number = nextSat();
        s.randomCode = rng.Digits(6);
        s.accessKey = SatAccessKey(branch.ufCode, s.issuedAt.date(), branch.cnpj, reg.satSerial, s.number,
                                   s.randomCode);
        s.statusCode = QStringLiteral("06000");
        s.statusText = QStringLiteral("Emitido com sucesso");
        int cancelNumber = 0;
        QString cancelCode;
        if (cancelled) {
            s.cancelReason = QString::fromUtf8(rng.Pick(kCancelReasons));
            s.cancelledAt = s.issuedAt.addSecs(rng.Between(60, 1500));
            cancelNumber = nextSat();
            cancelCode = rng.Digits(6);
        }
        WriteSatDocuments(s, branch, reg, st.softwareHouseCnpj, cancelNumber, cancelCode);
    }
    return s;
}

} // namespace vnd::docgen
