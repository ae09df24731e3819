#pragma once
// Deterministic generator of realistic fiscal sales for demo data, tests and benchmarks. One seed gives
// the same master data (companies, branches, cash registers, customers, receipt types, products) and the
// same sequence of sales, byte for byte, on every machine. Every sale carries the values its database row
// needs and its fiscal documents: the signed NFC-e (layout 3.10, or 4.00 for import tests) with its
// protocol columns and cancellation, or the SAT CF-e coupon and its cancellation.
//
// Money is held in integer cents and quantities in ten-thousandths, so totals add up exactly; XML texts
// are UTF-8 bytes.

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace vnd::docgen
{

// A company: the owner of one or more branches, all sharing the CNPJ root.
struct Company {
    QString code;     // 2 characters, "01"
    QString name;     // legal name, with accents
    QString cnpjRoot; // first 8 digits of every branch's CNPJ
};

// A branch (shop) of a company, the issuer of its documents.
struct Branch {
    QString code;        // CDFILIAL, 4 characters, "0001"
    QString companyCode; // 2 characters
    QString name;        // legal name (xNome), with accents
    QString tradeName;   // shop name (xFant), with accents
    QString cnpj;        // 14 digits with valid check digits
    QString ie;          // state registration, digits only (12 in São Paulo, valid check digits there)
    QString im;          // municipal registration
    int ufCode = 35;     // IBGE state code (cUF)
    QString uf;          // "SP"
    QString cityCode;    // IBGE city code, 7 digits
    QString city;        // with accents
    QString street, number, district, cep, phone;
    int crt = 1;                                    // tax regime: 1 Simples Nacional, 3 normal
    QString qrCodeUrl;                              // state's NFC-e QR-code page (the start of every qrCode)
    QString consultUrl;                             // state's NFC-e key lookup page (WSSITEUFQRCODENFC)
    QString cscId;                                  // 6 digits, cIdToken of the QR code
    QString csc;                                    // secret code hashed into the QR code
    QString certificateSerial;                      // NRCERTDIGNFCE: serial of the signing certificate (hex)
    bool IssuesSat() const { return ufCode == 35; } // SAT exists only in São Paulo
};

// A cash register (point-of-sale terminal) of a branch.
struct CashRegister {
    QString branchCode; // 4 characters
    QString code;       // CDCAIXA, 3 characters, "001"
    QString name;       // "Caixa 01"
    int nfceSeries = 1; // NFC-e series, 1 to 999
    QString satSerial;  // 9 digits; empty for a register outside São Paulo
};

// A registered customer.
struct Customer {
    QString code; // CDCLIENTE, up to 21 characters
    QString name; // with accents
    QString cpf;  // 11 digits with valid check digits
};

// A receipt type (means of payment) of the back office.
struct ReceiptType {
    QString code;             // 3 characters, "001"
    QString name;             // "Dinheiro", "Cartão de Crédito", …
    QString fiscalCode;       // tPag of the NFC-e and cMP of the SAT: "01", "03", …
    bool givesChange = false; // cash: the customer may hand more and get change
};

// A product of the catalogue.
struct Product {
    QString code;         // up to 14 characters
    QString name;         // with accents
    QString ean;          // GTIN-13 with valid check digit, or empty
    QString ncm;          // 8 digits
    QString cest;         // 7 digits or empty
    QString cfop;         // "5102" or "5405"
    QString unit;         // "UN", "KG", "LT", …
    qint64 price = 0;     // cents per unit
    bool weighed = false; // sold by weight: fractional quantities
    int icmsRate = 1800;  // ICMS rate in hundredths of a percent (1800 = 18%) for the normal regime
};

enum class DocKind { Nfce, Sat };

// Situation of an NFC-e at the tax authority. SAT coupons are Authorized or Cancelled.
enum class NfceStatus { Authorized, Cancelled, Pending, Rejected };

// The forms in which a point of sale stores an NFC-e in DSARQXMLNFCE.
enum class NfceForm {
    BareDeclaration, // <?xml version="1.0"?> + NFe with its infNFeSupl
    Utf8Declaration, // <?xml version="1.0" encoding="UTF-8"?> + NFe without infNFeSupl
    EnviNFe,         // NFe (with infNFeSupl) inside its enviNFe submission batch, 117-character head
    Processed,       // nfeProc holding NFe and protNFe
};

// One item of a sale; values in cents, quantity in ten-thousandths.
struct SaleItem {
    int number = 0; // nItem, from 1
    QString productCode, productName, ean, ncm, cest, cfop, unit;
    qint64 quantity = 0;       // qCom × 10000
    qint64 unitPrice = 0;      // vUnCom
    qint64 gross = 0;          // vProd = quantity × unit price, rounded
    qint64 discount = 0;       // vDesc of the item
    qint64 surcharge = 0;      // vOutro of the item
    qint64 ratedDiscount = 0;  // SAT vRatDesc: the item's share of a subtotal discount
    qint64 ratedSurcharge = 0; // SAT vRatAcr: the item's share of a subtotal surcharge
    qint64 net = 0;            // the item's part of the total: gross - discount + surcharge - rated + rated
    int icmsRate = 0;          // hundredths of a percent; 0 under Simples Nacional
    qint64 icmsBase = 0, icms = 0, pis = 0, cofins = 0;
    qint64 approxTaxes = 0; // vTotTrib, the consumer's estimate of all taxes
};

// One payment of a sale; amount is what the customer handed (cash may exceed, see Sale::change).
struct SalePayment {
    QString receiptTypeCode; // 3 characters
    QString receiptTypeName;
    QString fiscalCode; // tPag / cMP
    qint64 amount = 0;  // cents
};

// A sale with everything its row and its files need.
struct Sale {
    DocKind kind = DocKind::Nfce;
    QString branchCode, registerCode, companyCode; // 4, 3, 2 characters
    QString saleNumber;                            // NRSEQVENDA, 10 digits, per register
    QDateTime issuedAt;   // local time of the sale (dhEmi without offset, dEmi + hEmi)
    QString customerCode; // empty for an anonymous sale
    QString customerName;
    QString customerCpf; // dest/CPF; may be set without a customer code (CPF typed at the till)
    QList<SaleItem> items;
    QList<SalePayment> payments;
    qint64 productsTotal = 0;     // sum of gross
    qint64 discountTotal = 0;     // sum of item discounts
    qint64 surchargeTotal = 0;    // sum of item surcharges
    qint64 subtotalDiscount = 0;  // SAT vDescSubtot, spread over the items as ratedDiscount
    qint64 subtotalSurcharge = 0; // SAT vAcresSubtot, spread as ratedSurcharge
    qint64 total = 0;             // vNF / vCFe: sum of item net values
    qint64 change = 0;            // vTroco: sum of payment amounts minus total
    qint64 icmsBaseTotal = 0, icmsTotal = 0, pisTotal = 0, cofinsTotal = 0, approxTaxesTotal = 0;

    // Fiscal identity.
    QString series;      // NFC-e series as written in serie ("1"), or the SAT serial (9 digits)
    int number = 0;      // nNF, or nCFe (1 to 999999)
    QString randomCode;  // cNF: 8 digits (NFC-e) or 6 (SAT)
    QString accessKey;   // 44 digits with a valid check digit
    QString environment; // tpAmb: "1" production, "2" homologation
    QString issuerCnpj;  // emit/CNPJ
    QString issuerIe;    // emit/IE
    NfceStatus status = NfceStatus::Authorized;
    QString layoutVersion; // "3.10" or "4.00" (NFC-e), "0.07" (SAT)

    // NFC-e documents and protocol columns.
    QByteArray nfe;         // signed NFe with its infNFeSupl, no declaration
    QString digestValue;    // base64 SHA-1 of the canonical infNFe, 28 characters
    QString qrCode;         // DSQRCODENFCE: the QR-code text (also inside infNFeSupl)
    QString qrSiteUrl;      // WSSITEUFQRCODENFC: the state's key lookup page
    QString protocolNumber; // NRPROTOCOLONFCE, 15 digits; empty unless authorised
    QDateTime authorizedAt; // DTHRPROTOCONFCE; invalid unless authorised
    QString statusCode;     // cStat: "100", or the rejection code; empty while pending
    QString statusText;     // xMotivo, or the rejection text, or the pending notice

    // Cancellation (NFC-e event or SAT cancellation coupon).
    QString cancelReason;         // DSRAZAOCANCNFCE, 15 to 255 characters, with accents
    QString cancelProtocolNumber; // NRPROTOCOLOCANC, 15 digits (NFC-e)
    QDateTime cancelledAt;        // DTHRPROTOCOCANC
    QByteArray cancelEvent;       // stored procEventoNFe, or empty when the point of sale kept none

    // SAT documents.
    QByteArray cfe;          // the CFe coupon as completed by the SAT, no declaration
    QByteArray cfeCanc;      // the CFeCanc coupon of a cancelled sale, no declaration
    QString cancelAccessKey; // 44 digits of the cancellation coupon

    // NRACESSONFCE as stored: the 44 digits of an NFC-e, "CFe" + 44 digits of a SAT coupon.
    QString StoredAccessKey() const;
    // IDTPEMISVEND: "N" for an NFC-e, "S" for a SAT coupon.
    QString EmissionFlag() const { return kind == DocKind::Nfce ? QStringLiteral("N") : QStringLiteral("S"); }
    // IDSTATUSNFCE: "A" authorised, "C" cancelled, "P" pending, "R" rejected.
    QString StatusFlag() const;
    // IDSITUVENDA: "C" for a cancelled sale, else "O" (concluded).
    QString SituationFlag() const
    {
        return status == NfceStatus::Cancelled ? QStringLiteral("C") : QStringLiteral("O");
    }
    // DSARQXMLNFCE in the given stored form (NFC-e) or the coupon itself (SAT, form ignored).
    QByteArray StoredDocument(NfceForm form = NfceForm::BareDeclaration) const;
    // DSARQXMLCANCNFCE: the stored cancellation event or cancellation coupon, or empty.
    QByteArray StoredCancellation() const { return kind == DocKind::Nfce ? cancelEvent : cfeCanc; }
};

// What the master data looks like; the defaults make a small chain of shops.
struct MasterOptions {
    int companies = 2;
    int branchesPerCompany = 2; // the first branch of the first company lies in São Paulo
    int registersPerBranch = 2;
    int customers = 40;
    int products = 60;
    QString environment = QStringLiteral("2"); // tpAmb of every document
    // Further companies with an alphanumeric CNPJ root (letters in places 2 to 4), outside São Paulo; made
    // after the rest, which they leave as it was.
    int alphanumericCompanies = 0;
};

// What to make of one sale; every unset choice is drawn from the seed.
struct SaleOptions {
    std::optional<DocKind> kind{};      // drawn: SAT for about half the sales of São Paulo registers
    std::optional<NfceStatus> status{}; // drawn: mostly Authorized, some Cancelled, few Pending/Rejected
    QString branchCode{};               // a branch; empty draws one
    QString registerCode{};             // a register of that branch; empty draws one
    // empty: the generator's clock, which advances a few minutes per sale
    std::optional<QDateTime> issuedAt{};
    int minItems = 1, maxItems = 8;
    std::optional<bool> withCustomer{};             // drawn: about a third of the sales name a customer
    std::optional<bool> storeCancelEvent{};         // cancelled NFC-e: keep a stored procEventoNFe (drawn)
    // NFC-e layout, "3.10" or "4.00"; a branch with an alphanumeric CNPJ always issues 4.00
    QString layoutVersion = QStringLiteral("3.10");
};

// The generator: master data made at construction, sales made one by one from the same seed. One
// generator serves one thread at a time; threads that generate in parallel each take their own seed.
class Generator
{
  public:
    // Builds the master data from the seed; throws Exception on options that cannot be met.
    explicit Generator(quint64 seed, const MasterOptions &options = {});
    ~Generator();                                     // defined where State is complete
    Generator(const Generator &) = delete;            // one sequence per seed, never two copies of it
    Generator &operator=(const Generator &) = delete; // idem

    // The companies, in code order.
    const QList<Company> &Companies() const;
    // The branches, in code order; the first one is always in São Paulo and issues SAT coupons.
    const QList<Branch> &Branches() const;
    // The cash registers of every branch, by branch and code.
    const QList<CashRegister> &CashRegisters() const;
    // The registered customers, in code order.
    const QList<Customer> &Customers() const;
    // The receipt types; the first is "Dinheiro", the only one that gives change.
    const QList<ReceiptType> &ReceiptTypes() const;
    // The catalogue; every sale item is one of these products at its price.
    const QList<Product> &Products() const;
    // The branch of that code; throws Exception naming the code when there is none.
    const Branch &BranchByCode(const QString &code) const;
    // The register of that branch and code; throws Exception naming both when there is none.
    const CashRegister &Register(const QString &branchCode, const QString &code) const;

    // Sets the clock that dates the next sales (local time); the first sale defaults to 02/05/2016 08:00.
    void SetClock(const QDateTime &when);
    // The next sale of the sequence; throws Exception on options that name unknown master data or ask
    // for a SAT coupon outside São Paulo.
    Sale MakeSale(const SaleOptions &options = {});
    // count sales made with the same options.
    QList<Sale> MakeSales(int count, const SaleOptions &options = {});

    // The inner state, known only to the generator's own sources.
    struct State;

  private:
    std::unique_ptr<State> m_state;
};

// The processed NFC-e: nfeProc with the signed NFe and its protNFe (authorised or cancelled sales).
QByteArray ProcessedNfce(const Sale &sale);
// The NFC-e in one of its stored forms; Processed needs an authorised or cancelled sale.
QByteArray StoredNfce(const Sale &sale, NfceForm form);
// A procEventoNFe of the sale's cancellation (signed evento and retEvento), as a point of sale keeps it.
QByteArray CancellationEvent(const Sale &sale);
// A SAT sale batch: envCFe holding LoteCFe with the coupons (1 to 50) in order, with a declaration.
QByteArray SatBatch(const QList<Sale> &sales, const QString &batchId);
// A SAT cancellation batch: cancCFe holding LoteCFeCanc with the cancellation coupons (1 to 50).
QByteArray SatCancelBatch(const QList<Sale> &sales, const QString &batchId);

// Length of the enviNFe head that stands before <NFe in the EnviNFe form; the export cuts by it.
constexpr int kEnviNFeHeadLength = 117;
// Length of the closing tag of enviNFe.
constexpr int kEnviNFeTailLength = 10;

} // namespace vnd::docgen
