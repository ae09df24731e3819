#pragma once
// The remote-call format shared by the net connection and the application server: JSON-RPC 2.0 with
// positional parameters. Values are QVariants: texts, booleans, numbers, date-times, data packets,
// lists (the sale array) and null.

#include "host/json.h"
#include "host/recordset.h"

#include <QVariant>

namespace vnd::rpc {

inline const char *kModule = "VND04400.rdmGeraXml.";

void WriteValue(JsonWriter &w, const QVariant &value);
// Reads any JSON value; an object with "fields" becomes a TDataPacket holding its raw text.
QVariant ReadValue(JsonReader &r);

QByteArray EncodeRequest(qint64 id, const QString &method, const QVariantList &params);
QByteArray EncodeResult(const QVariant &id, const QVariant &result);
// The response up to its result: head + a value's JSON text + "}" is EncodeResult's text. A server sends
// a packet of megabytes that way, without copying it into the response.
QByteArray EncodeResultHead(const QVariant &id);
QByteArray EncodeError(const QVariant &id, int code, const QString &message);

struct Request
{
    QVariant id;
    QString method;
    QVariantList params;
};
Request DecodeRequest(const QByteArray &body);

struct Response
{
    bool ok = false;
    QVariant result;
    int code = 0;
    QString message;
};
// Takes the body: a packet result keeps the body's own buffer, cut to the packet, instead of a copy.
Response DecodeResponse(QByteArray body);

// Value helpers for method code: a packet out of a QVariant (Exception when it is none), texts.
TDataPacket ToPacket(const QVariant &value, const char *what = "pacote de dados");
bool IsPacket(const QVariant &value);

} // namespace vnd::rpc
