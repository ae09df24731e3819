#pragma once
// Reading XML files by their declared encoding.
//
// The document services take text that is already characters (QString). These helpers turn the bytes
// of a file into that text:
// - a byte-order mark decides first (UTF-8, UTF-16 LE, UTF-16 BE) and is removed; UTF-16 without a
//   mark is recognised by its first "<";
// - otherwise the encoding attribute of the declaration decides: UTF-8 (also when there is no
//   declaration or no encoding), US-ASCII (read as UTF-8), ISO-8859-1 or Windows-1252;
// - UTF-8 that is not valid, UTF-16 with an odd byte count or a lone surrogate, and any other
//   declared encoding are errors (Exception) naming the byte, line and column or the encoding.
// Bytes before the first "<" (junk some point-of-sale programs write ahead of the document) are kept
// by default, which makes the load fail on them; with XmlLeadingBytes::Skip they are dropped before
// decoding and their count is reported, so junk that is not even valid in the encoding does no harm.
//
// Example, as the batch import reads a file:
//     const vnd::DecodedXml file = vnd::ReadXmlFile(path, vnd::XmlLeadingBytes::Skip);
//     doc->LoadFromXML(file.text);

#include <QByteArray>
#include <QString>

namespace vnd
{

enum class XmlLeadingBytes { Keep, Skip };

// Decoded text of an XML file and how it was read.
struct DecodedXml {
    // The characters, without the byte-order mark (and without the leading bytes when skipped).
    QString text;
    // "UTF-8", "UTF-16LE", "UTF-16BE", "ISO-8859-1" or "windows-1252".
    QString encoding;
    bool byteOrderMark = false;
    // Bytes dropped before the first "<" (XmlLeadingBytes::Skip), not counting the byte-order mark.
    qsizetype skippedBytes = 0;
};

// Decodes the bytes of an XML file as described above; raises Exception on bytes that do not decode.
DecodedXml DecodeXml(const QByteArray &bytes, XmlLeadingBytes leading = XmlLeadingBytes::Keep);
// DecodeXml(bytes, leading).text.
QString DecodeXmlBytes(const QByteArray &bytes, XmlLeadingBytes leading = XmlLeadingBytes::Keep);
// Reads and decodes a file; errors name the file. Files larger than an XML text may be are refused
// before they are read.
DecodedXml ReadXmlFile(const QString &path, XmlLeadingBytes leading = XmlLeadingBytes::Keep);

} // namespace vnd
