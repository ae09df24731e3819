#pragma once
// Reading ahead in a batch: while one file's sales go to the server, the next file is read, decoded and
// parsed on a thread of its own, so that the import waits on the server and the disk, not on both
// in turn. Only the reading moves: files are still taken, sent and filed one by one, in order.

#include "sign/assinatura.h"
#include "xml/xmldoc.h"

#include <QString>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace vnd {

// A file as read ahead: its document loaded into the document given, and the document's XML text; or
// the failure of the reading, raised again where the file is imported.
struct ArquivoLido
{
    IXMLDocument doc;
    QString xml;
    // The reading's warning about the file's encoding (LeXmlImportacao), empty when none.
    QString aviso;
    std::exception_ptr falha;
    // The verdict of every XML signature of the file (VerificaAssinaturas), checked on the reading
    // thread so that the import does not wait for it; empty also when the file could not be read.
    QList<ResultadoAssinatura> assinaturas;
    // The file as it was when its reading began (device, inode, size, change time); all zero when it
    // could not be looked at.
    struct Identidade
    {
        quint64 dispositivo = 0, inode = 0, tamanho = 0, alterado = 0;
        bool operator==(const Identidade &) const = default;
    } identidade;
};

// The identity of the file now (all zero when it cannot be looked at).
ArquivoLido::Identidade IdentidadeDoArquivo(const QString &path);

class LeituraAntecipada
{
public:
    LeituraAntecipada();
    // Waits for a reading in course: the document it fills must outlive it.
    ~LeituraAntecipada();
    LeituraAntecipada(const LeituraAntecipada &) = delete;
    LeituraAntecipada &operator=(const LeituraAntecipada &) = delete;

    // Starts reading path into doc (loaded with LeXmlImportacao and LoadFromXML). One reading at a time:
    // the one before must have been taken.
    void Pede(const QString &path, const IXMLDocument &doc);
    // The reading asked last, once finished.
    ArquivoLido Toma();

private:
    void Trabalha();

    std::mutex m_mutex;
    std::condition_variable m_pedido;
    std::condition_variable m_pronto;
    QString m_path;
    ArquivoLido m_lido;
    bool m_pedida = false;
    bool m_feita = false;
    bool m_fim = false;
    std::thread m_thread;
};

} // namespace vnd
