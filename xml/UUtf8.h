#pragma once
// UTF-8 conversion routines published to the host application and its other modules.
//
// Their behaviour is a contract that existing callers depend on, odd corners included; do not "fix"
// them here:
// - Wide text is taken one 16-bit unit at a time. A surrogate pair is NOT combined: each surrogate
//   is encoded as its own three-byte sequence (U+1F600 gives ED A0 BD ED B8 80), and decoding never
//   produces a surrogate pair (a four-byte lead is read as the three-byte form).
// - Decoding validates only continuation bytes: any byte >= 0x80 starts a sequence; bit 0x20 of the
//   lead selects the three-byte form, otherwise the two-byte form; values are cut to 16 bits.
// - The buffer functions return counts that include the terminating zero. Capacity counts the
//   terminator too; when the output fills the capacity exactly, the terminator overwrites the last
//   unit written (so a multi-byte character may be left cut). Without a destination they return
//   the count needed plus one; without a source they return 0.
// - Utf8ToUnicode returns 0xFFFFFFFF (-1 as signed) on malformed input, leaving what it already wrote.
// - The system code page of AnsiToUtf8/Utf8ToAnsi is Windows-1252; characters outside it become "?".
// - With a destination and a capacity of 0 nothing is written and 0 is returned (there is no room for
//   the terminator; the original wrote before the buffer).

#include <QByteArray>
#include <QString>
#include <cstdint>

// 8-bit text holding UTF-8 bytes; a distinct type so that it is not mistaken for code-page text.
class UTF8String : public QByteArray
{
  public:
    UTF8String() = default;
    explicit UTF8String(const QByteArray &bytes) : QByteArray(bytes) {}
    explicit UTF8String(const char *bytes, qsizetype size = -1) : QByteArray(bytes, size) {}
};

extern "C" {
// Encodes SourceChars units of Source into Dest (MaxDestBytes bytes, terminator included). Returns
// the bytes written including the terminator; without Dest the bytes needed plus one; without Source 0.
uint32_t UnicodeToUtf8(char *Dest, uint32_t MaxDestBytes, const char16_t *Source, uint32_t SourceChars);
// Decodes SourceBytes bytes of Source into Dest (MaxDestChars units, terminator included). Returns the
// units written including the terminator; without Dest the units needed plus one; without Source 0;
// 0xFFFFFFFF on malformed input.
uint32_t Utf8ToUnicode(char16_t *Dest, uint32_t MaxDestChars, const char *Source, uint32_t SourceBytes);
}

// UTF-8 of wide text, unit by unit (see above); empty for empty text.
UTF8String UTF8Encode(const QString &s);
// Wide text of UTF-8 bytes; empty for empty or malformed input.
QString UTF8Decode(const QByteArray &s);
// UTF-8 of Windows-1252 text.
UTF8String AnsiToUtf8(const QByteArray &s);
// Windows-1252 text of UTF-8 bytes; empty for malformed input.
QByteArray Utf8ToAnsi(const QByteArray &s);
