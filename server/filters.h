#pragma once
// The sale-list filter as the screens send it: pairs of a selection text ("_0001__0002_") and its "T"
// text, a period, an invoice number and the situation. Selection texts are parsed into codes and bound
// as values; nothing of them ever becomes SQL.

#include "server/serverdb.h"

#include <QDate>
#include <QStringList>

namespace vnd::server {

// One list filter: everything, or the given codes.
struct ListFilter
{
    bool all = true;
    QStringList codes;
    QString text; // the selection text as received
};

// The codes of a selection text: "_" + code + "_" repeated ("_0001__0002_" -> 0001, 0002). Exception
// naming the filter when the text is not made of such items (codes cannot be empty or hold "_").
QStringList ParseSelection(const QString &text, const QString &filterName);

// A list filter from its value text and "T" text: "T" in the second means all; otherwise the value
// must be a selection text. Exception naming the filter when both are empty or the "T" text is other.
ListFilter ParseListFilter(const QString &value, const QString &all, const QString &filterName);

// The invoice number filter: "" for any ("T" in the second text), else 1 to 9 digits.
QString ParseInvoiceFilter(const QString &value, const QString &all);

struct SaleFilter
{
    ListFilter branches, registers, customers, receiptTypes;
    QDate from, to;     // inclusive days
    QString invoice;    // empty: any
    bool authorised = true;
    bool cancelled = true;
    bool pendingOrRejected = false; // NFC-e awaiting or refused by the tax authority, instead of the above
};

// Reads the situation text: "A" authorised, "_C" cancelled, "A_C" both. Exception naming the text.
void ParseSituation(const QString &text, SaleFilter &filter);

// Appends the filter's conditions on VENDA V (" AND ...") with their bound values. A period whose first
// day follows its last is an Exception.
void AppendConditions(const SaleFilter &filter, const ServerDb &db, QString &sql, QVariantList &binds);

} // namespace vnd::server
