#include "import/leituraantecipada.h"

#include "import/importfiles.h"

#include <QFile>
#include <sys/stat.h>

namespace vnd {

namespace {

// The signatures of a file that was read: a verification that cannot run at all (the libraries did not
// start) is told as the verdict of the whole file, never as a failure of its import.
QList<ResultadoAssinatura> ConfereAssinaturas(const QByteArray &bytes)
{
    try {
        return VerificaAssinaturas(bytes);
    } catch (const std::exception &e) {
        return {ResultadoAssinatura{EstadoAssinatura::Malformada, {}, QString::fromUtf8(e.what())}};
    }
}

} // namespace

ArquivoLido::Identidade IdentidadeDoArquivo(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {quint64(st.st_dev), quint64(st.st_ino), quint64(st.st_size),
            quint64(st.st_ctim.tv_sec) * 1000000000u + quint64(st.st_ctim.tv_nsec)};
}

LeituraAntecipada::LeituraAntecipada() : m_thread([this] { Trabalha(); }) {}

LeituraAntecipada::~LeituraAntecipada()
{
    {
        std::lock_guard lock(m_mutex);
        m_fim = true;
    }
    m_pedido.notify_one();
    m_thread.join();
}

void LeituraAntecipada::Pede(const QString &path, const IXMLDocument &doc)
{
    {
        std::lock_guard lock(m_mutex);
        m_path = path;
        m_lido = ArquivoLido{doc, {}, {}, {}, {}, {}};
        m_pedida = true;
        m_feita = false;
    }
    m_pedido.notify_one();
}

ArquivoLido LeituraAntecipada::Toma()
{
    std::unique_lock lock(m_mutex);
    m_pronto.wait(lock, [this] { return m_feita; });
    m_feita = false;
    return std::move(m_lido);
}

void LeituraAntecipada::Trabalha()
{
    for (;;) {
        QString path;
        IXMLDocument doc;
        {
            std::unique_lock lock(m_mutex);
            m_pedido.wait(lock, [this] { return m_pedida || m_fim; });
            // A reading asked for and no longer awaited is not done.
            if (m_fim)
                return;
            m_pedida = false;
            path = m_path;
            doc = m_lido.doc;
        }
        QString xml, aviso;
        std::exception_ptr falha;
        QList<ResultadoAssinatura> assinaturas;
        const ArquivoLido::Identidade identidade = IdentidadeDoArquivo(path);
        try {
            TextoXmlImportado texto = LeXmlImportacao(path);
            aviso = std::move(texto.aviso);
            doc->LoadFromXML(texto.text);
            xml = doc->XML();
            assinaturas = ConfereAssinaturas(texto.bytes);
        } catch (...) {
            falha = std::current_exception();
        }
        {
            std::lock_guard lock(m_mutex);
            m_lido.xml = std::move(xml);
            m_lido.aviso = std::move(aviso);
            m_lido.falha = falha;
            m_lido.assinaturas = std::move(assinaturas);
            m_lido.identidade = identidade;
            m_feita = true;
        }
        m_pronto.notify_one();
    }
}

} // namespace vnd
