#include "host/rpc.h"

#include "host/errors.h"

#include <QDateTime>

namespace vnd::rpc {

void WriteValue(JsonWriter &w, const QVariant &value)
{
    if (!value.isValid() || value.isNull()) {
        w.Null();
        return;
    }
    if (value.canConvert<TDataPacket>() && value.userType() == qMetaTypeId<TDataPacket>()) {
        const TDataPacket p = value.value<TDataPacket>();
        if (p.IsEmpty())
            w.Null();
        else
            w.Raw(p.json);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool: w.Bool(value.toBool()); return;
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
    case QMetaType::ULongLong: w.Integer(value.toLongLong()); return;
    case QMetaType::Double: w.Number(value.toDouble()); return;
    case QMetaType::QDateTime: w.String(value.toDateTime().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))); return;
    case QMetaType::QDate: w.String(value.toDate().startOfDay().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss"))); return;
    case QMetaType::QByteArray: w.String(value.toByteArray()); return;
    case QMetaType::QVariantList:
    case QMetaType::QStringList: {
        w.BeginArray();
        for (const QVariant &v : value.toList())
            WriteValue(w, v);
        w.EndArray();
        return;
    }
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        w.BeginObject();
        for (auto it = map.begin(); it != map.end(); ++it) {
            const QByteArray key = it.key().toUtf8();
            w.Key(key.constData());
            WriteValue(w, it.value());
        }
        w.EndObject();
        return;
    }
    default: w.String(value.toString());
    }
}

QVariant ReadValue(JsonReader &r)
{
    switch (r.Peek()) {
    case JsonToken::ObjectBegin: {
        const QByteArray raw = r.ReadRaw();
        // A data packet stays raw; other objects become maps.
        JsonReader probe(raw);
        probe.ExpectObjectBegin();
        QByteArray key;
        if (probe.NextKey(key) && key == "fields")
            return QVariant::fromValue(TDataPacket{raw});
        JsonReader again(raw);
        return again.ReadVariant();
    }
    case JsonToken::ArrayBegin: {
        QVariantList list;
        r.ExpectArrayBegin();
        while (r.NextElement())
            list.append(ReadValue(r));
        return list;
    }
    default: return r.ReadVariant();
    }
}

QByteArray EncodeRequest(qint64 id, const QString &method, const QVariantList &params)
{
    JsonWriter w;
    w.BeginObject();
    w.Key("jsonrpc");
    w.String(QByteArray("2.0"));
    w.Key("id");
    w.Integer(id);
    w.Key("method");
    w.String(method);
    w.Key("params");
    WriteValue(w, QVariant(params));
    w.EndObject();
    return w.Take();
}

// {"jsonrpc":"2.0","id":id, with the object left open.
static void BeginResponse(JsonWriter &w, const QVariant &id)
{
    w.BeginObject();
    w.Key("jsonrpc");
    w.String(QByteArray("2.0"));
    w.Key("id");
    WriteValue(w, id);
}

QByteArray EncodeResult(const QVariant &id, const QVariant &result)
{
    JsonWriter w;
    // A packet result is copied in whole: one buffer of its size, not a few growing ones.
    if (result.userType() == qMetaTypeId<TDataPacket>())
        w.Reserve(result.value<TDataPacket>().json.size() + 64);
    BeginResponse(w, id);
    w.Key("result");
    WriteValue(w, result);
    w.EndObject();
    return w.Take();
}

QByteArray EncodeResultHead(const QVariant &id)
{
    JsonWriter w;
    BeginResponse(w, id);
    w.Key("result");
    return w.Take();
}

QByteArray EncodeError(const QVariant &id, int code, const QString &message)
{
    JsonWriter w;
    BeginResponse(w, id);
    w.Key("error");
    w.BeginObject();
    w.Key("code");
    w.Integer(code);
    w.Key("message");
    w.String(message);
    w.EndObject();
    w.EndObject();
    return w.Take();
}

Request DecodeRequest(const QByteArray &body)
{
    Request req;
    JsonReader r(body);
    r.ExpectObjectBegin();
    QByteArray key;
    bool haveMethod = false;
    while (r.NextKey(key)) {
        if (key == "id")
            req.id = r.ReadVariant();
        else if (key == "method") {
            req.method = QString::fromUtf8(r.ReadString());
            haveMethod = true;
        } else if (key == "params") {
            const QVariant p = ReadValue(r);
            if (p.typeId() != QMetaType::QVariantList)
                r.Fail("\"params\" deve ser uma lista");
            req.params = p.toList();
        } else
            r.ReadRaw();
    }
    if (!haveMethod)
        throw Exception(QStringLiteral("Requisição sem \"method\""));
    return req;
}

Response DecodeResponse(QByteArray body)
{
    Response resp;
    qsizetype packetStart = -1, packetEnd = -1;
    {
        JsonReader r(body);
        r.ExpectObjectBegin();
        QByteArray key;
        bool any = false;
        while (r.NextKey(key)) {
            if (key == "result") {
                resp.ok = true;
                any = true;
                if (r.Peek() == JsonToken::ObjectBegin) {
                    // A page of the sale list is megabytes: its place in the body is noted, not copied.
                    const qsizetype start = r.Offset();
                    r.Skip();
                    JsonReader probe(QByteArray::fromRawData(body.constData() + start, r.Offset() - start));
                    probe.ExpectObjectBegin();
                    QByteArray first;
                    if (probe.NextKey(first) && first == "fields") {
                        packetStart = start;
                        packetEnd = r.Offset();
                    } else {
                        JsonReader object(body.mid(start, r.Offset() - start));
                        resp.result = object.ReadVariant();
                    }
                } else {
                    resp.result = ReadValue(r);
                }
            } else if (key == "error") {
                const QVariantMap err = r.ReadVariant().toMap();
                resp.ok = false;
                resp.code = err.value(QStringLiteral("code")).toInt();
                resp.message = err.value(QStringLiteral("message")).toString();
                any = true;
            } else
                r.ReadRaw();
        }
        if (!any)
            throw Exception(QStringLiteral("Resposta do servidor sem resultado"));
    }
    if (packetStart >= 0 && resp.ok) {
        // The reader is gone, so the body is ours alone: cutting it moves bytes within its own buffer.
        body.truncate(packetEnd);
        body.remove(0, packetStart);
        resp.result = QVariant::fromValue(TDataPacket{std::move(body)});
    }
    return resp;
}

bool IsPacket(const QVariant &value) { return value.userType() == qMetaTypeId<TDataPacket>(); }

TDataPacket ToPacket(const QVariant &value, const char *what)
{
    if (!IsPacket(value))
        throw Exception(QStringLiteral("Valor recebido não é um %1").arg(QString::fromUtf8(what)));
    return value.value<TDataPacket>();
}

} // namespace vnd::rpc
