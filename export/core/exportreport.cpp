#include "export/core/exportreport.h"
#include "export/core/exportreportformat.h"

#include "export/core/exportrun.h"
#include "export/core/geraxmllocal.h"
#include "host/errors.h"
#include "host/recordset.h"
#include "sign/assinatura.h"
#include "sign/resumo.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cstdlib>

#include <openssl/evp.h>

namespace vnd {

using reportformat::Money;

namespace {

// SHA-256 through OpenSSL (several times Qt's own on machines with the SHA instructions), in hex.
std::array<unsigned char, 32> Sha256(Md &md)
{
    std::array<unsigned char, 32> out{};
    unsigned int n = 0;
    if (EVP_MD_CTX_get_size(md.get()) != int(out.size()) || EVP_DigestFinal_ex(md.get(), out.data(), &n) != 1)
        throw Exception(QStringLiteral("Não foi possível calcular o SHA-256 do resumo."));
    return out;
}

QByteArray Hex(const std::array<unsigned char, 32> &digest)
{
    return QByteArray::fromRawData(reinterpret_cast<const char *>(digest.data()), qsizetype(digest.size())).toHex();
}

QByteArray Sha256Hex(Md &md) { return Hex(Sha256(md)); }

Md NovoSha256()
{
    Md md(EVP_MD_CTX_new());
    if (!md || EVP_DigestInit_ex(md.get(), EVP_sha256(), nullptr) != 1)
        throw Exception(QStringLiteral("Não foi possível calcular o SHA-256 do resumo."));
    return md;
}

std::array<unsigned char, 32> Sha256(std::initializer_list<QByteArrayView> parts)
{
    Md md = NovoSha256();
    for (QByteArrayView p : parts)
        EVP_DigestUpdate(md.get(), p.data(), size_t(p.size()));
    return Sha256(md);
}

// The whole file from where it stands; empty when it cannot be read to its end.
QByteArray Sha256Hex(QFile &file)
{
    Md md = NovoSha256();
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    qint64 n = 0;
    while ((n = file.read(buffer.data(), buffer.size())) > 0)
        EVP_DigestUpdate(md.get(), buffer.constData(), size_t(n));
    if (n < 0 || !file.atEnd())
        return {};
    return Sha256Hex(md);
}

// Files waiting for their check: bounds the documents held in memory beside the writer.
constexpr size_t kMaxQueued = 256;
// The writer, stopped on a full queue, is woken once the queue is down to this: waking it for every
// file checked cost more than a check.
constexpr size_t kRefill = kMaxQueued / 2;
// A worker takes up to this many files at a time, and takes the lock once for all of them.
constexpr size_t kBatch = 16;

QString Digits(const QByteArray &text)
{
    QString out;
    for (char c : text)
        if (c >= '0' && c <= '9')
            out += QLatin1Char(c);
    return out;
}

qint64 ToNumber(const QString &digits)
{
    bool ok = false;
    const qint64 n = digits.toLongLong(&ok);
    return ok && !digits.isEmpty() ? n : -1;
}

QString Day(const assembly::SaleRow &row)
{
    const QDate d = QDate::fromString(QString::fromUtf8(row.saleDateText.left(10)), QStringLiteral("dd/MM/yyyy"));
    return d.isValid() ? d.toString(Qt::ISODate) : QString::fromUtf8(row.saleDateText);
}

// One CSV field: quoted when it holds the separator, a quote or a line break.
QString CsvField(const QString &text)
{
    if (!text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('"')) && !text.contains(QLatin1Char('\n')) &&
        !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

const QStringList &CsvColumns()
{
    static const QStringList columns{
        QStringLiteral("tipo"),         QStringLiteral("filial"),         QStringLiteral("caixa"),
        QStringLiteral("modelo"),       QStringLiteral("serie"),          QStringLiteral("data"),
        QStringLiteral("autorizadas"),  QStringLiteral("canceladas"),     QStringLiteral("valor_total"),
        QStringLiteral("numero_inicial"), QStringLiteral("numero_final"), QStringLiteral("quantidade"),
        QStringLiteral("arquivo"),      QStringLiteral("arquivo_compactado"), QStringLiteral("tamanho"),
        QStringLiteral("sha256"),       QStringLiteral("detalhe")};
    return columns;
}

// A CSV row from column name to value; the columns not given stay empty.
QString CsvRow(std::initializer_list<std::pair<const char *, QString>> values)
{
    QStringList fields(CsvColumns().size());
    for (const auto &[name, value] : values)
        fields[CsvColumns().indexOf(QLatin1String(name))] = CsvField(value);
    return fields.join(QLatin1Char(';'));
}

// The CSV written row by row under a temporary name, each row ended by CR LF, made durable and then
// put in place: a summary of a million files is never held whole in memory, and one under its final
// name is always complete.
void WriteCsvSynced(const QString &path, const std::function<void(const std::function<void(const QString &)> &)> &rows)
{
    WriteInPlace(path, true, [&](const std::function<void(QByteArrayView)> &write) {
        QByteArray buffer;
        rows([&](const QString &row) {
            buffer += row.toUtf8();
            buffer += "\r\n";
            if (buffer.size() >= (1 << 20)) {
                write(buffer);
                buffer.clear();
            }
        });
        write(buffer);
    });
}

} // namespace

SaleNumbering NumberingOf(const assembly::SaleRow &row)
{
    SaleNumbering n;
    const QString key = Digits(row.accessKey);
    const bool keyValid = key.size() == 44;
    n.model = keyValid ? key.mid(20, 2) : QString(row.IsNfce() ? QStringLiteral("65") : QStringLiteral("59"));
    const bool sat = n.model == QLatin1String("59");
    n.series = !row.series.isEmpty() ? QString::fromUtf8(row.series)
               : keyValid            ? (sat ? key.mid(22, 9) : QString::number(key.mid(22, 3).toInt()))
                                     : QString();
    n.number = !row.number.isEmpty() ? ToNumber(Digits(row.number))
               : keyValid            ? ToNumber(sat ? key.mid(31, 6) : key.mid(25, 9))
                                     : -1;
    return n;
}

std::vector<NumberGap> NumberGaps(std::vector<qint64> numbers)
{
    std::sort(numbers.begin(), numbers.end());
    numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
    std::vector<NumberGap> gaps;
    for (size_t i = 1; i < numbers.size(); ++i)
        if (numbers[i] > numbers[i - 1] + 1)
            gaps.push_back({numbers[i - 1] + 1, numbers[i] - 1});
    return gaps;
}

QString ExportReport::File::Sha256Hex() const { return QString::fromLatin1(Hex(sha256)); }

namespace {
// A file's record in the temporary file: this head, then the path's bytes. Read back by the process
// that wrote it, so in the machine's own byte order.
struct [[gnu::packed]] RecordHead
{
    qint32 archive;
    qint64 size;
    unsigned char sha256[32];
    quint32 reason;
    quint8 flags; // 1 unsigned event, 2 checked
    quint32 pathSize;
};
} // namespace

void ExportReport::File::AppendRecord(QByteArray &out) const
{
    RecordHead h{};
    h.archive = archive;
    h.size = size;
    std::memcpy(h.sha256, sha256.data(), sizeof h.sha256);
    h.reason = reason;
    h.flags = quint8((unsignedEvent ? 1 : 0) | (checked ? 2 : 0));
    h.pathSize = quint32(path.size());
    out.append(reinterpret_cast<const char *>(&h), sizeof h);
    out.append(path);
}

bool ExportReport::File::ReadRecord(QIODevice &in)
{
    RecordHead h;
    if (in.read(reinterpret_cast<char *>(&h), sizeof h) != qint64(sizeof h))
        return false;
    archive = h.archive;
    size = h.size;
    std::memcpy(sha256.data(), h.sha256, sizeof h.sha256);
    reason = h.reason;
    unsignedEvent = h.flags & 1;
    checked = h.flags & 2;
    path = in.read(h.pathSize);
    return path.size() == qsizetype(h.pathSize);
}

ExportReport::ExportReport() = default;

ExportReport::~ExportReport()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_jobs.clear();
    }
    m_wake.notify_all();
    for (std::thread &t : m_workers)
        t.join();
}

void ExportReport::AddSale(const assembly::SaleRow &row)
{
    const SaleNumbering n = NumberingOf(row);
    const QString branch = QString::fromUtf8(row.branch).trimmed();
    const QString reg = QString::fromUtf8(row.cashRegister).trimmed();
    Movement &m = m_movements[{branch, reg, n.model, n.series, Day(row)}];
    (row.IsCancelled() ? m.cancelled : m.authorised) += 1;
    m.cents += qRound64(row.value * 100);
    if (n.number >= 0) {
        m.first = m.first < 0 ? n.number : std::min(m.first, n.number);
        m.last = std::max(m.last, n.number);
        m_numbers[{branch, reg, n.model, n.series}].push_back(n.number);
    } else {
        m_unknownNumbers << QString::fromUtf8(row.accessKey);
    }
    ++m_sales;
}

void ExportReport::AddFile(const QString &path, const assembly::SaleFile &file, int archive)
{
    if (m_workers.empty()) {
        // Both cores: a check costs about as much as writing the file.
        const unsigned n = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
        for (unsigned i = 0; i < n; ++i)
            m_workers.emplace_back([this] { Work(); });
    }
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_jobs.size() < kMaxQueued; });
    if (!m_spool) {
        m_spool = std::make_unique<QTemporaryFile>(QDir(QDir::tempPath()).filePath(QStringLiteral("vnd-resumo-XXXXXX")));
        if (!m_spool->open())
            throw Exception(QStringLiteral("Não foi possível criar o arquivo temporário do resumo em %1: %2")
                                .arg(QDir::toNativeSeparators(QDir::tempPath()), m_spool->errorString()));
    }
    File f;
    f.path = path.toUtf8();
    f.archive = archive;
    f.unsignedEvent = file.unsignedEvent;
    m_window.push_back(std::move(f));
    // The notes and coupons are checked; a cancellation event ("-pro-can.xml") is the authority's
    // record of the cancellation, listed but not checked.
    const bool verify = !file.unsignedEvent && !file.name.endsWith(QLatin1String("-pro-can.xml"));
    m_jobs.push_back({m_fileCount++, file.content, verify});
    const bool someoneWaits = m_idle > 0;
    lock.unlock();
    if (someoneWaits)
        m_wake.notify_one();
}

void ExportReport::AddArchive(const QString &path) { m_archives << path; }

void ExportReport::AddFailure(const QString &key, const QString &reason)
{
    m_failures << key + QStringLiteral(": ") + reason;
}

void ExportReport::Work()
{
    struct Result
    {
        size_t index;
        std::array<unsigned char, 32> sha256;
        qint64 size;
        QString invalid;
        bool checked;
    };
    std::vector<Job> batch;
    std::vector<Result> results;
    std::unique_lock lock(m_mutex);
    while (true) {
        ++m_idle;
        m_wake.wait(lock, [this] { return !m_jobs.empty() || m_stop; });
        --m_idle;
        if (m_stop)
            return;
        // Half of what waits, so that the other worker has its share.
        const size_t take = std::clamp<size_t>(m_jobs.size() / 2, 1, kBatch);
        const bool wasAbove = m_jobs.size() > kRefill;
        batch.clear();
        for (size_t i = 0; i < take; ++i) {
            batch.push_back(std::move(m_jobs.front()));
            m_jobs.pop_front();
        }
        m_busy += take;
        const bool room = wasAbove && m_jobs.size() <= kRefill;
        lock.unlock();
        if (room)
            m_done.notify_all();
        results.clear();
        for (Job &job : batch) {
            Result r{job.index, {}, job.content.size() + 2, {}, job.verify};
            // The file as written: its content and the line end the writer adds.
            r.sha256 = Sha256({job.content, QByteArrayView("\r\n")});
            if (job.verify) {
                const ResultadoAssinatura v = VerificaAssinatura(job.content);
                if (!v.Intacta())
                    r.invalid = v.motivo.isEmpty() ? QStringLiteral("assinatura ausente ou ilegível") : v.motivo;
            }
            job.content = QByteArray(); // the document goes now, not with the next batch
            results.push_back(std::move(r));
        }
        lock.lock();
        for (Result &r : results) {
            File &f = m_window[r.index - m_retired];
            f.size = r.size;
            f.sha256 = r.sha256;
            if (!r.invalid.isEmpty()) {
                // The reasons repeat from file to file: each text is held once.
                auto found = m_reasonIndex.constFind(r.invalid);
                if (found == m_reasonIndex.constEnd()) {
                    m_reasons << r.invalid;
                    found = m_reasonIndex.insert(r.invalid, quint32(m_reasons.size()));
                }
                f.reason = *found;
            }
            f.checked = r.checked;
            f.done = true;
        }
        Retire();
        m_busy -= take;
        if (m_jobs.empty() && m_busy == 0)
            m_done.notify_all();
    }
}

void ExportReport::Wait()
{
    std::unique_lock lock(m_mutex);
    m_done.wait(lock, [this] { return m_jobs.empty() && m_busy == 0; });
}

void ExportReport::Retire()
{
    while (!m_window.empty() && m_window.front().done) {
        const File &f = m_window.front();
        m_invalidCount += f.reason ? 1 : 0;
        if (m_spoolError.isEmpty()) {
            QByteArray record;
            f.AppendRecord(record);
            if (m_spool->write(record) != record.size())
                m_spoolError = m_spool->errorString();
        }
        m_window.pop_front();
        ++m_retired;
    }
}

void ExportReport::ForEachFile(const std::function<void(const File &, const QString &path)> &fn) const
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_window.empty())
            throw Exception(QStringLiteral("O resumo foi pedido antes do fim da conferência dos arquivos."));
        if (m_spool && m_spoolError.isEmpty() && !m_spool->flush())
            m_spoolError = m_spool->errorString();
        if (!m_spoolError.isEmpty())
            throw Exception(QStringLiteral("Erro ao gravar o arquivo temporário do resumo %1: %2")
                                .arg(QDir::toNativeSeparators(m_spool->fileName()), m_spoolError));
    }
    if (!m_spool)
        return;
    QFile in(m_spool->fileName());
    if (!in.open(QIODevice::ReadOnly))
        throw Exception(QStringLiteral("Não foi possível ler o arquivo temporário do resumo %1: %2")
                            .arg(QDir::toNativeSeparators(in.fileName()), in.errorString()));
    File f;
    for (size_t n = 0; n < m_retired; ++n) {
        if (!f.ReadRecord(in))
            throw Exception(QStringLiteral("Arquivo temporário do resumo %1 incompleto.").arg(QDir::toNativeSeparators(in.fileName())));
        fn(f, QString::fromUtf8(f.path));
    }
}

QStringList ExportReport::InvalidSignatures(int max) const
{
    QStringList out;
    if (InvalidSignatureCount() == 0)
        return out;
    ForEachFile([&](const File &f, const QString &path) {
        if (f.reason && out.size() < max)
            out << QFileInfo(path).fileName() + QStringLiteral(": ") + Reason(f);
    });
    return out;
}

int ExportReport::InvalidSignatureCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_invalidCount);
}

QString ExportReport::Reason(const File &f) const { return f.reason ? m_reasons.at(qsizetype(f.reason) - 1) : QString(); }

void ExportReport::Csv(const QDateTime &finished, const std::vector<Archive> &archives,
                       const std::function<void(const QString &)> &row) const
{
    row(CsvColumns().join(QLatin1Char(';')));
    int authorised = 0, cancelled = 0;
    qint64 cents = 0;
    for (const auto &[key, m] : m_movements) {
        const auto &[branch, reg, model, series, day] = key;
        row(CsvRow({{"tipo", QStringLiteral("movimento")},
                        {"filial", branch},
                        {"caixa", reg},
                        {"modelo", model},
                        {"serie", series},
                        {"data", day},
                        {"autorizadas", QString::number(m.authorised)},
                        {"canceladas", QString::number(m.cancelled)},
                        {"valor_total", Money(m.cents)},
                        {"numero_inicial", m.first < 0 ? QString() : QString::number(m.first)},
                        {"numero_final", m.last < 0 ? QString() : QString::number(m.last)}}));
        authorised += m.authorised;
        cancelled += m.cancelled;
        cents += m.cents;
    }
    for (const auto &[key, numbers] : m_numbers) {
        const auto &[branch, reg, model, series] = key;
        for (const NumberGap &gap : NumberGaps(numbers)) {
            const qint64 count = gap.last - gap.first + 1;
            row(CsvRow({{"tipo", QStringLiteral("lacuna")},
                            {"filial", branch},
                            {"caixa", reg},
                            {"modelo", model},
                            {"serie", series},
                            {"numero_inicial", QString::number(gap.first)},
                            {"numero_final", QString::number(gap.last)},
                            {"quantidade", QString::number(count)},
                            {"detalhe", count == 1 ? QStringLiteral("número %1 sem nota").arg(gap.first)
                                                   : QStringLiteral("números %1 a %2 sem nota").arg(gap.first).arg(gap.last)}}));
        }
    }
    for (const QString &key : m_unknownNumbers)
        row(CsvRow({{"tipo", QStringLiteral("número desconhecido")},
                        {"detalhe", QStringLiteral("venda sem número de nota nem chave legível: %1").arg(key)}}));
    for (const Archive &a : archives)
        row(CsvRow({{"tipo", QStringLiteral("arquivo compactado")},
                        {"arquivo", a.name},
                        {"quantidade", QString::number(a.files)},
                        {"tamanho", QString::number(a.size)},
                        {"sha256", QString::fromLatin1(a.sha256)}}));
    ForEachFile([&](const File &f, const QString &path) {
        const QString archive = f.archive >= 0 && size_t(f.archive) < archives.size() ? archives[f.archive].name : QString();
        const QString detail = f.unsignedEvent ? QStringLiteral("evento sem assinatura")
                               : f.reason ? QStringLiteral("assinatura inválida: ") + Reason(f)
                                                      : QStringLiteral("assinatura válida");
        row(CsvRow({{"tipo", QStringLiteral("arquivo")},
                        {"arquivo", path},
                        {"arquivo_compactado", archive},
                        {"tamanho", QString::number(f.size)},
                        {"sha256", f.Sha256Hex()},
                        {"detalhe", detail}}));
    });
    if (m_invalidCount > 0)
        ForEachFile([&](const File &f, const QString &path) {
            if (f.reason)
                row(CsvRow({{"tipo", QStringLiteral("assinatura inválida")}, {"arquivo", path}, {"detalhe", Reason(f)}}));
        });
    ForEachFile([&](const File &f, const QString &path) {
        if (f.unsignedEvent)
            row(CsvRow({{"tipo", QStringLiteral("evento sem assinatura")},
                            {"arquivo", path},
                            {"detalhe", QStringLiteral("evento de cancelamento reconstruído sem assinatura (o sistema "
                                                       "não tem o certificado do emitente)")}}));
    });
    for (const QString &failure : m_failures)
        row(CsvRow({{"tipo", QStringLiteral("falha")}, {"detalhe", failure}}));
    row(CsvRow({{"tipo", QStringLiteral("total")},
                    {"data", finished.toString(Qt::ISODate)},
                    {"autorizadas", QString::number(authorised)},
                    {"canceladas", QString::number(cancelled)},
                    {"valor_total", Money(cents)},
                    {"quantidade", QString::number(m_fileCount)},
                    {"detalhe", QStringLiteral("%1 venda(s), %2 arquivo(s)").arg(m_sales).arg(m_fileCount)}}));
}

QStringList ExportReport::Finish(const QString &folder, const QDateTime &finished)
{
    Wait();
    std::vector<Archive> archives;
    for (const QString &path : m_archives) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly))
            throw Exception(QStringLiteral("Não foi possível ler o arquivo compactado %1 para o resumo: %2")
                                .arg(QDir::toNativeSeparators(path), f.errorString()));
        const QByteArray sha256 = Sha256Hex(f);
        if (sha256.isEmpty())
            throw Exception(QStringLiteral("Erro ao ler o arquivo compactado %1 para o resumo: %2")
                                .arg(QDir::toNativeSeparators(path), f.errorString()));
        archives.push_back({QFileInfo(path).fileName(), f.size(), sha256, 0});
    }
    ForEachFile([&](const File &f, const QString &) {
        if (f.archive >= 0 && size_t(f.archive) < archives.size())
            ++archives[f.archive].files;
    });

    const QString stamp = finished.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString base = QDir(folder).filePath(QStringLiteral("resumo-") + stamp);
    for (int n = 2; QFileInfo::exists(base + QStringLiteral(".csv")) || QFileInfo::exists(base + QStringLiteral(".pdf")); ++n)
        base = QDir(folder).filePath(QStringLiteral("resumo-%1-%2").arg(stamp).arg(n));
    const QString pdf = base + QStringLiteral(".pdf"), csv = base + QStringLiteral(".csv");
    // Drawn under a temporary name that a later run clears if this one is killed, then put in place.
    const QString temp = TemporaryPath(pdf);
    try {
        WritePdf(temp, finished, archives);
        SyncFile(temp);
    } catch (...) {
        QFile::remove(temp);
        throw;
    }
    if (::rename(QFile::encodeName(temp).constData(), QFile::encodeName(pdf).constData()) != 0) {
        const int err = errno;
        QFile::remove(temp);
        throw Exception(QStringLiteral("Não foi possível gravar o resumo %1: %2")
                            .arg(QDir::toNativeSeparators(pdf), QString::fromLocal8Bit(std::strerror(err))));
    }
    // The CSV last: a folder with it holds a complete run and its complete summary.
    WriteCsvSynced(csv, [&](const std::function<void(const QString &)> &row) { Csv(finished, archives, row); });
    SyncFile(folder);
    return {pdf, csv};
}

} // namespace vnd
