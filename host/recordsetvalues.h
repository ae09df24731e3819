#pragma once
// What the parts of the record set share (internal to host/recordset*.cpp): the packet forms of
// date-times and numbers, and the form a value takes in a field.

#include "host/recordset.h"

namespace vnd::recordset {

extern const QString kDateFormat; // "yyyy-MM-ddTHH:mm:ss"

// Packet date-times are "yyyy-MM-ddTHH:mm:ss" at fixed positions, read and written by hand.
QDateTime ParsePacketDateTime(const QByteArray &text);
QByteArray FormatPacketDateTime(const QDateTime &value);
// A number with the decimal comma, as the screens show it.
QString FormatFloatBr(double v);
// The form a value takes in a field of this definition (what SetValue stores).
QVariant NormaliseValue(const TFieldDef &def, const QVariant &value);

} // namespace vnd::recordset
