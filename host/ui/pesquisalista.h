#pragma once
// PesquisaLista, the multi-choice list of a filter: the user ticks codes of an open lookup list and the
// selection text carries them as "_" + code + "_" each, one after the other ("_0001__0003_"), the form
// the server's filters search with INSTR.

#include <QString>
#include <QStringList>

class TDataSource;

namespace vnd
{
// The selection text of these codes, in the order given.
QString BuildSelection(const QStringList &codes);
// The codes of a selection text, in order ("" gives none).
QStringList ParseSelection(const QString &selection);
// Whether the selection holds this code whole (not as part of a longer one).
bool SelectionHas(const QString &selection, const QString &code);
} // namespace vnd

// Shows the rows of the data source's open data set with the codes of the selection ticked; on
// confirmation writes the ticked rows' keyField values, in list order, into selection (empty when none
// is ticked) and returns true. Cancelled, the selection is left as it was and the result is false.
// singleChoice true allows one row only. A closed data set is an Exception.
bool PesquisaLista(TDataSource *dataSource, const QString &keyField, const QString &title, bool singleChoice,
                   QString &selection);
