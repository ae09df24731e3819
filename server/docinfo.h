#pragma once
// The few facts the server takes from a stored fiscal document: that it parses, its Id and layout
// version, and the QR-code texts of an NFC-e.

#include <QByteArray>
#include <QString>

namespace vnd::server {

struct DocumentInfo
{
    bool utf8 = true;  // the bytes are valid UTF-8
    bool parsed = false;
    QString error;     // the parser's description with the byte offset, when it failed
    QString root;      // name of the document element
    QString id;        // Id of infNFe / infCFe ("NFe" + 44 digits, "CFe" + 44 digits)
    QString version;   // versao of infNFe / infCFe
    QString qrCode;    // infNFeSupl/qrCode
    QString urlChave;  // infNFeSupl/urlChave (layout 4.00)
};

// Parses without expanding entities or fetching anything; never throws for a bad document.
DocumentInfo ReadDocumentInfo(const QByteArray &xml);

} // namespace vnd::server
