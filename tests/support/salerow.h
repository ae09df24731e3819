#pragma once
// A generated sale as one row of the main screen's sale list (the shape of DefineCdsNotas), ticked:
// shared by the export tests and the export figures.
#include "host/recordset.h"
#include "server/docgen/docgen.h"

#include <QDateTime>

namespace vndtest {

inline void AppendSaleRow(TClientDataSet &cds, const vnd::docgen::Sale &s,
                          vnd::docgen::NfceForm form = vnd::docgen::NfceForm::BareDeclaration)
{
    cds.Append();
    auto set = [&](const char *f, const QVariant &v) { cds.FieldByName(QString::fromLatin1(f)).SetValue(v); };
    set("IDCHECK", QStringLiteral("S"));
    set("CDFILIAL", s.branchCode);
    set("CDCAIXA", s.registerCode);
    set("NRSEQVENDA", s.saleNumber);
    set("DSARQXMLNFCE", s.StoredDocument(form));
    set("DTENTRVENDA", QDateTime(s.issuedAt.date(), QTime(0, 0)));
    set("NRACESSONFCE", s.StoredAccessKey());
    set("CDSERIE", s.series);
    set("IDTPEMISVEND", s.EmissionFlag());
    set("NRNOTAFISCALCE", QString::number(s.number));
    set("IDSITUVENDA", s.SituationFlag());
    set("NRPROTOCOLONFCE", s.protocolNumber);
    set("DTHRPROTOCONFCE", s.authorizedAt);
    set("IDTPAMBNFCE", s.environment);
    set("IDSTATUSNFCE", s.StatusFlag());
    set("NRINSJURIEST", s.issuerCnpj);
    set("DSRAZAOCANCNFCE", s.cancelReason);
    set("DTHRPROTOCOCANC", s.cancelledAt);
    set("NRPROTOCOLOCANC", s.cancelProtocolNumber);
    set("DSARQXMLCANCNFCE", s.StoredCancellation());
    set("WSSITEUFQRCODENFC", s.qrSiteUrl);
    set("DSQRCODENFCE", s.qrCode);
    set("CDVERSAOXMLNFCE", s.layoutVersion);
    set("VRTOTVENDA", double(s.total) / 100.0);
    cds.Post();
}

} // namespace vndtest
