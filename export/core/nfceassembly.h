#pragma once
// Assembly of the fiscal files of one sale from its stored documents and protocol columns: the processed
// NFC-e (nfeProc), the processed cancellation event (procEventoNFe) and the SAT file names. Pure functions
// over one row, so that the local export, the server's generation and the tests share them.

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

class TClientDataSet;

namespace vnd::assembly {

inline constexpr char kNfeNamespace[] = "http://www.portalfiscal.inf.br/nfe";

// The columns of one sale-list row that the assembly reads, as stored (UTF-8).
struct SaleRow
{
    QByteArray branch, cashRegister, saleDateText; // CDFILIAL, CDCAIXA, DTENTRVENDA display text
    QByteArray kind;                                // IDTPEMISVEND: "N" NFC-e, else SAT
    QByteArray accessKey;                           // NRACESSONFCE
    QByteArray document, cancelDocument;            // DSARQXMLNFCE, DSARQXMLCANCNFCE
    QByteArray status;                              // IDSTATUSNFCE: "C" cancelled
    QByteArray qrCode, qrSite;                      // DSQRCODENFCE, WSSITEUFQRCODENFC
    QByteArray version;                             // CDVERSAOXMLNFCE
    QByteArray protocol;                            // NRPROTOCOLONFCE
    QDateTime protocolTime;                         // DTHRPROTOCONFCE
    QByteArray environment;                         // IDTPAMBNFCE
    QByteArray issuerCnpj;                          // NRINSJURIEST
    QByteArray cancelReason;                        // DSRAZAOCANCNFCE
    QDateTime cancelTime;                           // DTHRPROTOCOCANC
    QByteArray cancelProtocol;                      // NRPROTOCOLOCANC
    // For the run's summary; empty (0) when the list has no such column.
    QByteArray series, number;                      // CDSERIE, NRNOTAFISCALCE
    double value = 0;                               // VRTOTVENDA

    bool IsNfce() const { return kind == "N"; }
    bool IsCancelled() const { return status == "C"; }
};

// Reads the current row of a sale list (fields of cdsNotas).
SaleRow ReadSaleRow(TClientDataSet &cdsNotas);

// Fiscal date-time text: yyyy-MM-ddTHH:mm:ss followed by the offset ("-03:00" when none is given).
QByteArray FiscalDateTime(const QDateTime &value, const QByteArray &offset = QByteArrayLiteral("-03:00"));

// The offset of the note's own time, from the dhEmi of its stored document ("-04:00" in Manaus, "-05:00"
// in Rio Branco); "-03:00" when the document tells none. Times rebuilt for a note carry it: the stored
// times are the shop's local time with their offset dropped.
QByteArray DocumentOffset(const QByteArray &document);

// The stored text without a leading UTF-8 byte-order mark: a mark ahead of the declaration would leave a
// declaration inside nfeProc, and a file that no parser takes.
QByteArray WithoutByteOrderMark(const QByteArray &text);

// Escapes & < > " for text placed in markup by string assembly; texts without them come back unchanged.
QByteArray EscapeMarkup(const QByteArray &text);
// Text for inside a CDATA section: a "]]>" is split across two sections.
QByteArray EscapeCData(const QByteArray &text);

// Content of "NFCe<key>-pro-rec.xml" without the final line break. The parse check of the assembled NF-e
// is done through the document services. Exception (without the key; the caller appends it) when the
// stored document lacks what the assembly relies on.
QByteArray ProcessedNfce(const SaleRow &row);

// Content of "NFCe<key>-pro-can.xml": the stored cancellation document, or the event built through the
// document services from the cancellation columns; line-break pairs removed.
QByteArray ProcessedCancellation(const SaleRow &row);

// Removes every CR LF pair (lone CR or LF stay).
QByteArray RemoveCrLf(QByteArray text);

// Checks that a value used as a folder or file name part cannot leave its folder: no "..", "/", "\",
// control characters, and not empty. Exception naming the field otherwise.
void CheckPathPart(const QByteArray &value, const QString &field);

// Sub-folder of a sale below the chosen folder: branch/register/yyyy-mm-dd (from the dd/mm/yyyy text).
QString SaleSubFolder(const SaleRow &row);

// File names: "NFCe<key>-pro-rec.xml", "NFCe<key>-pro-can.xml", "AD<44>.xml", "ADC<44>.xml".
QString NfceFileName(const SaleRow &row);
QString NfceCancelFileName(const SaleRow &row);
QString SatFileName(const SaleRow &row);
QString SatCancelFileName(const SaleRow &row);

// One file of a sale: its name and its text without the final CR LF.
struct SaleFile
{
    QString name;
    QByteArray content;
    // A cancellation event built from the sale's columns: nothing here can sign it, so it carries no
    // signature and the official schema, which requires one, does not take it.
    bool unsignedEvent = false;
};
// Every file of one sale, in writing order: the NFC-e and its cancellation event, or the SAT coupon and
// its cancellation when one is stored. Exception (without the key) as the functions above.
QList<SaleFile> SaleFiles(const SaleRow &row);

} // namespace vnd::assembly
