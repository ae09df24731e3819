#include "server/filters.h"

#include "host/errors.h"

namespace vnd::server {

namespace {

// Longer lists are matched through one bound text instead of one value each: the databases limit the
// values of one statement, and a widened customer field may carry thousands of codes.
constexpr int kMaxBoundCodes = 500;

void AppendList(const ListFilter &list, const QString &column, QString &sql, QVariantList &binds)
{
    if (list.all)
        return;
    if (list.codes.size() <= kMaxBoundCodes) {
        QString marks;
        for (const QString &code : list.codes) {
            marks += marks.isEmpty() ? QStringLiteral("?") : QStringLiteral(", ?");
            binds << code;
        }
        sql += QStringLiteral(" AND %1 IN (%2)").arg(column, marks);
        return;
    }
    // Each code stands between underscores and holds none itself, so this matches whole codes only.
    sql += QStringLiteral(" AND INSTR(?, '_' || %1 || '_') > 0").arg(column);
    binds << list.text;
}

} // namespace

QStringList ParseSelection(const QString &text, const QString &filterName)
{
    QStringList codes;
    int i = 0;
    const int n = int(text.size());
    while (i < n) {
        if (text[i] != QLatin1Char('_'))
            break;
        const int end = int(text.indexOf(QLatin1Char('_'), i + 1));
        if (end < 0 || end == i + 1)
            break;
        codes << text.mid(i + 1, end - i - 1);
        i = end + 1;
    }
    if (i != n || codes.isEmpty())
        throw Exception(QStringLiteral("Seleção de %1 inválida: \"%2\". Esperado \"_código_\" para cada item.")
                            .arg(filterName, text.left(200)));
    return codes;
}

ListFilter ParseListFilter(const QString &value, const QString &all, const QString &filterName)
{
    ListFilter f;
    if (all == QLatin1String("T"))
        return f;
    if (!all.isEmpty())
        throw Exception(QStringLiteral("Filtro de %1: o indicador de todos deve ser \"T\" ou vazio; recebido \"%2\".")
                            .arg(filterName, all.left(20)));
    if (value.isEmpty())
        throw Exception(QStringLiteral("Filtro de %1 sem seleção: informe a lista ou \"T\" para todos.").arg(filterName));
    f.all = false;
    f.text = value;
    f.codes = ParseSelection(value, filterName);
    f.codes.removeDuplicates();
    return f;
}

QString ParseInvoiceFilter(const QString &value, const QString &all)
{
    if (all == QLatin1String("T"))
        return {};
    const QString v = value.trimmed();
    bool digits = !v.isEmpty() && v.size() <= 9;
    for (const QChar c : v)
        digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
    if (!digits)
        throw Exception(QStringLiteral("Número da nota fiscal inválido: \"%1\". Informe até 9 dígitos ou \"T\".")
                            .arg(value.left(20)));
    return v;
}

void ParseSituation(const QString &text, SaleFilter &filter)
{
    filter.authorised = filter.cancelled = false;
    const QStringList parts = text.split(QLatin1Char('_'));
    bool ok = !text.isEmpty();
    for (int i = 0; i < parts.size() && ok; ++i) {
        if (parts[i] == QLatin1String("A") && i == 0)
            filter.authorised = true;
        else if (parts[i] == QLatin1String("C") && i > 0)
            filter.cancelled = true;
        else if (!(parts[i].isEmpty() && i == 0))
            ok = false;
    }
    if (!ok || (!filter.authorised && !filter.cancelled))
        throw Exception(QStringLiteral("Situação da venda inválida: \"%1\". Use \"A\", \"_C\" ou \"A_C\".")
                            .arg(text.left(20)));
}

void AppendConditions(const SaleFilter &filter, const ServerDb &db, QString &sql, QVariantList &binds)
{
    if (!filter.from.isValid() || !filter.to.isValid())
        throw Exception(QStringLiteral("O período da consulta deve ter data inicial e final."));
    if (filter.from > filter.to)
        throw Exception(QStringLiteral("Período inválido: a data inicial %1 é posterior à final %2.")
                            .arg(filter.from.toString(QStringLiteral("dd/MM/yyyy")),
                                 filter.to.toString(QStringLiteral("dd/MM/yyyy"))));
    // Whole days: from the first midnight up to, not including, the midnight after the last day.
    sql += QStringLiteral(" AND V.DTENTRVENDA >= %1 AND V.DTENTRVENDA < %1").arg(db.DateTimeParam());
    binds << ServerDb::DateTimeValue(filter.from.startOfDay()) << ServerDb::DateTimeValue(filter.to.addDays(1).startOfDay());

    AppendList(filter.branches, QStringLiteral("V.CDFILIAL"), sql, binds);
    AppendList(filter.registers, QStringLiteral("V.CDFILIAL || V.CDCAIXA"), sql, binds);
    AppendList(filter.customers, QStringLiteral("V.CDCLIENTE"), sql, binds);
    if (!filter.receiptTypes.all) {
        QString inner;
        AppendList(filter.receiptTypes, QStringLiteral("R.CDTIPORECE"), inner, binds);
        sql += QStringLiteral(" AND EXISTS (SELECT 1 FROM VENDARECE R WHERE R.IDVENDA = V.IDVENDA%1)").arg(inner);
    }
    if (!filter.invoice.isEmpty()) {
        // Stored numbers carry leading zeros (NFC-e: 9 digits, SAT: 6); the screen sends them without.
        sql += QStringLiteral(" AND LTRIM(V.NRNOTAFISCALCE, '0') = ?");
        QString bare = filter.invoice;
        while (bare.startsWith(QLatin1Char('0')))
            bare.remove(0, 1);
        binds << bare;
    }
    if (filter.pendingOrRejected) {
        sql += QStringLiteral(" AND V.IDTPEMISVEND = 'N' AND V.IDSTATUSNFCE IN ('P', 'R')");
    } else if (filter.authorised && filter.cancelled) {
        sql += QStringLiteral(" AND V.IDSTATUSNFCE IN ('A', 'C')");
    } else {
        sql += filter.authorised ? QStringLiteral(" AND V.IDSTATUSNFCE = 'A'") : QStringLiteral(" AND V.IDSTATUSNFCE = 'C'");
    }
}

} // namespace vnd::server
