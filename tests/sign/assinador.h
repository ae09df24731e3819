#pragma once
// Signs documents for the tests as an issuer would: an RSA key and a self-signed certificate made with
// OpenSSL for the test run, and an enveloped xmlsec signature over the element with the given Id, with
// the certificate in KeyInfo. Documents made by the demo generator carry no real signature; this gives
// the tests real ones of both layouts and of the SAT.

#include <QByteArray>
#include <QString>

namespace vndtest {

enum class Algoritmo { RsaSha1, RsaSha256 };

// The document with every ds:Signature beside the element whose Id is id replaced by a fresh signature
// over that element (C14N and enveloped-signature transforms, as the fiscal layouts ask), appended as
// the last child of that element's parent. Throws std::runtime_error when signing fails.
QByteArray Assina(const QByteArray &documento, const QString &id, Algoritmo algoritmo = Algoritmo::RsaSha1);

// The document with the first occurrence of de replaced by para (which must occur), for alterations.
QByteArray Troca(const QByteArray &documento, const QByteArray &de, const QByteArray &para);

} // namespace vndtest
