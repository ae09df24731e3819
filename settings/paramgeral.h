#pragma once
// The parameter row of the server's automatic generation as the dialog keeps it: its fields, the rule of
// the script folder and the dialog's messages. Free of widgets, so tests call them directly.

#include <QString>
#include <QStringList>

class TClientDataSet;

namespace vnd
{

// Size of each folder field of the row, in characters.
inline constexpr int kTamDiretorioParam = 100;

// Defines the fields of cdsParamGeral (DTINIGERAARQXML, DSDIRARQXML, DSDIRARQPHPGXML, DSDIRINSTALAPHP,
// IDENVARQCMP) as the server sends the row.
void DefineCdsParamGeral(TClientDataSet &cds);

// The script folder as it is stored: the text with "\" appended unless its last character is one.
QString DirScriptComBarra(const QString &texto);

// Lines "key|text" of the dialog's message table.
QStringList MensagensParamGeraArqAuto();

} // namespace vnd
