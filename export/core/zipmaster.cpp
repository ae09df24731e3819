#include "export/core/zipmaster.h"

#include "host/errors.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>
#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>
#include <vector>

namespace {

// libdeflate at 9: output of the size of zlib's level 9, in less time.
constexpr int kDeflateLevel = 9;

QString ZipError(zip_t *za)
{
    return QString::fromUtf8(zip_strerror(za));
}

QString OpenError(int code)
{
    zip_error_t err;
    zip_error_init_with_code(&err, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&err));
    zip_error_fini(&err);
    return text;
}

// CRC-32 of a file, read in blocks.
bool FileCrc(const QString &path, quint32 &crc, qint64 &size)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    quint32 c = 0;
    size = 0;
    QByteArray block;
    while (!(block = f.read(1 << 20)).isEmpty()) {
        c = libdeflate_crc32(c, block.constData(), size_t(block.size()));
        size += block.size();
    }
    crc = c;
    return f.error() == QFileDevice::NoError;
}

// Whether the entry's stored data inflates to st.size bytes of CRC st.crc. A deflated entry of up to
// 64 MB is read raw and inflated by libdeflate in one piece; any other goes through libzip's stream,
// which checks the CRC as it reads.
bool EntryInflates(zip_t *za, const zip_stat_t &st, QByteArray &buffer)
{
    constexpr zip_uint64_t kWhole = 64u << 20;
    if (st.comp_method == ZIP_CM_DEFLATE && st.size <= kWhole && st.comp_size <= kWhole) {
        zip_file_t *zf = zip_fopen_index(za, st.index, ZIP_FL_COMPRESSED);
        if (!zf)
            return false;
        QByteArray raw(qsizetype(st.comp_size), Qt::Uninitialized);
        const zip_int64_t n = zip_fread(zf, raw.data(), st.comp_size);
        zip_fclose(zf);
        if (n != zip_int64_t(st.comp_size))
            return false;
        if (buffer.size() < qsizetype(st.size))
            buffer.resize(qsizetype(st.size));
        thread_local std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor *)> d(
            libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
        size_t out = 0;
        return d && libdeflate_deflate_decompress(d.get(), raw.constData(), raw.size(), buffer.data(), st.size, &out) ==
                        LIBDEFLATE_SUCCESS &&
               out == st.size && libdeflate_crc32(0, buffer.constData(), out) == st.crc;
    }
    zip_file_t *zf = zip_fopen_index(za, st.index, 0);
    if (!zf)
        return false;
    zip_int64_t n = 0;
    zip_uint64_t total = 0;
    while ((n = zip_fread(zf, buffer.data(), zip_uint64_t(buffer.size()))) > 0)
        total += zip_uint64_t(n);
    zip_fclose(zf);
    return n == 0 && total == st.size;
}

// One entry deflated ahead of the archive: libzip is handed the deflate stream with its CRC and sizes
// and stores it as it is (a source that states its compression method is copied, not recompressed).
struct Deflated
{
    QByteArray name;
    QString shown;
    QByteArray data; // raw deflate stream
    quint64 size = 0;
    quint32 crc = 0;
    QString error;
    size_t offset = 0; // read position while libzip copies it
};

zip_int64_t DeflatedSource(void *userdata, void *data, zip_uint64_t len, zip_source_cmd_t cmd)
{
    auto *d = static_cast<Deflated *>(userdata);
    switch (cmd) {
    case ZIP_SOURCE_OPEN:
        d->offset = 0;
        return 0;
    case ZIP_SOURCE_READ: {
        const size_t n = std::min<size_t>(len, size_t(d->data.size()) - d->offset);
        std::memcpy(data, d->data.constData() + d->offset, n);
        d->offset += n;
        return zip_int64_t(n);
    }
    case ZIP_SOURCE_CLOSE:
        return 0;
    case ZIP_SOURCE_STAT: {
        auto *st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, len, nullptr);
        if (!st)
            return -1;
        zip_stat_init(st);
        st->size = d->size;
        st->comp_size = zip_uint64_t(d->data.size());
        st->comp_method = ZIP_CM_DEFLATE;
        st->crc = d->crc;
        st->mtime = time(nullptr);
        st->valid = ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_COMP_METHOD | ZIP_STAT_CRC | ZIP_STAT_MTIME;
        return sizeof(*st);
    }
    case ZIP_SOURCE_ERROR:
        return 2 * sizeof(int);
    case ZIP_SOURCE_FREE:
        return 0;
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, -1);
    default:
        return -1;
    }
}

// Deflates bytes into d with the compressor c (made at kDeflateLevel).
void Deflate(Deflated &d, const QByteArray &bytes, libdeflate_compressor *c)
{
    d.size = quint64(bytes.size());
    d.crc = libdeflate_crc32(0, bytes.constData(), size_t(bytes.size()));
    d.data.resize(qsizetype(libdeflate_deflate_compress_bound(c, size_t(bytes.size()))));
    const size_t n = libdeflate_deflate_compress(c, bytes.constData(), size_t(bytes.size()), d.data.data(), size_t(d.data.size()));
    if (n == 0)
        d.error = QStringLiteral("falha ao compactar");
    d.data.resize(qsizetype(n));
    d.data.squeeze();
}

} // namespace

void TZipMaster::Add()
{
    // Every entry is deflated first, on as many threads as there are cores; then libzip writes them in
    // the order listed.
    std::vector<Deflated> entries(size_t(FSpecArgs.size() + FSpecMemory.size()));
    for (qsizetype i = 0; i < FSpecArgs.size(); ++i) {
        entries[size_t(i)].name = QFileInfo(FSpecArgs[i]).fileName().toUtf8();
        entries[size_t(i)].shown = FSpecArgs[i];
    }
    for (qsizetype i = 0; i < FSpecMemory.size(); ++i) {
        Deflated &d = entries[size_t(FSpecArgs.size() + i)];
        d.name = FSpecMemory[i].name.toUtf8();
        d.shown = FSpecMemory[i].name;
    }
    std::atomic<size_t> next{0};
    auto work = [&] {
        libdeflate_compressor *c = libdeflate_alloc_compressor(kDeflateLevel);
        for (size_t i; (i = next.fetch_add(1)) < entries.size();) {
            Deflated &d = entries[i];
            if (!c) {
                d.error = QStringLiteral("memória insuficiente");
                continue;
            }
            if (i < size_t(FSpecArgs.size())) {
                QFile f(FSpecArgs[qsizetype(i)]);
                if (!f.open(QIODevice::ReadOnly)) {
                    d.error = f.errorString();
                    continue;
                }
                const QByteArray bytes = f.readAll();
                if (f.error() != QFileDevice::NoError) {
                    d.error = f.errorString();
                    continue;
                }
                Deflate(d, bytes, c);
            } else {
                Deflate(d, FSpecMemory[qsizetype(i - size_t(FSpecArgs.size()))].data, c);
            }
        }
        libdeflate_free_compressor(c);
    };
    const size_t threads = std::min<size_t>(std::max(1, QThread::idealThreadCount()), std::max<size_t>(1, entries.size() / 8));
    std::vector<std::thread> pool;
    for (size_t t = 1; t < threads; ++t)
        pool.emplace_back(work);
    work();
    for (std::thread &t : pool)
        t.join();

    const QByteArray archive = QFile::encodeName(ZipFileName);
    int code = 0;
    zip_t *za = zip_open(archive.constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!za)
        throw Exception(QStringLiteral("Não foi possível criar o arquivo compactado %1: %2").arg(ZipFileName, OpenError(code)));
    for (Deflated &d : entries) {
        QString why = d.error;
        if (why.isEmpty()) {
            zip_source_t *src = zip_source_function(za, DeflatedSource, &d);
            const zip_int64_t index = src ? zip_file_add(za, d.name.constData(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE) : -1;
            if (index < 0) {
                why = ZipError(za);
                if (src)
                    zip_source_free(src);
            }
        }
        if (!why.isEmpty()) {
            zip_discard(za);
            throw Exception(QStringLiteral("Não foi possível incluir %1 no arquivo compactado %2: %3").arg(d.shown, ZipFileName, why));
        }
    }
    // The deflated bytes stay in entries until the archive is closed.
    if (zip_close(za) < 0) {
        const QString why = ZipError(za);
        zip_discard(za);
        throw Exception(QStringLiteral("Não foi possível gravar o arquivo compactado %1: %2").arg(ZipFileName, why));
    }
}

void TZipMaster::Verify() const
{
    // An archive of ordinary size is read in one piece and checked in memory: libzip reading each entry
    // from the file seeks and reads for every one of them.
    constexpr qint64 kInMemory = 256ll << 20;
    QByteArray whole;
    zip_t *za = nullptr;
    int code = 0;
    if (QFile f(ZipFileName); f.size() <= kInMemory && f.open(QIODevice::ReadOnly)) {
        whole = f.readAll();
        if (f.error() != QFileDevice::NoError)
            throw Exception(QStringLiteral("O arquivo compactado %1 não pôde ser conferido: %2").arg(ZipFileName, f.errorString()));
        zip_error_t err;
        zip_error_init(&err);
        if (zip_source_t *src = zip_source_buffer_create(whole.constData(), zip_uint64_t(whole.size()), 0, &err)) {
            za = zip_open_from_source(src, ZIP_RDONLY | ZIP_CHECKCONS, &err);
            if (!za)
                zip_source_free(src);
        }
        code = zip_error_code_zip(&err);
        zip_error_fini(&err);
    } else {
        za = zip_open(QFile::encodeName(ZipFileName).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    }
    if (!za)
        throw Exception(QStringLiteral("O arquivo compactado %1 não pôde ser conferido: %2").arg(ZipFileName, OpenError(code)));
    auto fail = [&](const QString &text) {
        zip_discard(za);
        throw Exception(QStringLiteral("O arquivo compactado %1 está incompleto ou corrompido: %2").arg(ZipFileName, text));
    };
    // Entries are named by file name; several files of one name collapse into one entry (the last).
    struct Expected
    {
        QString path;             // a file on disk, or
        const QByteArray *data;   // bytes in memory
    };
    QHash<QString, Expected> expected;
    for (const QString &path : FSpecArgs)
        expected.insert(QFileInfo(path).fileName(), Expected{path, nullptr});
    for (const MemoryFile &file : FSpecMemory)
        expected.insert(file.name, Expected{file.name, &file.data});
    if (zip_get_num_entries(za, 0) != expected.size())
        fail(QStringLiteral("%1 arquivos esperados, %2 encontrados").arg(expected.size()).arg(zip_get_num_entries(za, 0)));
    QByteArray buffer(1 << 20, Qt::Uninitialized);
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        const QByteArray name = it.key().toUtf8();
        zip_stat_t st;
        if (zip_stat(za, name.constData(), 0, &st) < 0)
            fail(QStringLiteral("falta %1").arg(it.key()));
        quint32 crc = 0;
        qint64 size = 0;
        if (const QByteArray *data = it.value().data) {
            crc = libdeflate_crc32(0, data->constData(), size_t(data->size()));
            size = data->size();
        } else if (!FileCrc(it.value().path, crc, size)) {
            fail(QStringLiteral("não foi possível ler %1").arg(it.value().path));
        }
        if (st.crc != crc || qint64(st.size) != size)
            fail(QStringLiteral("%1 difere do arquivo gravado").arg(it.key()));
        if (!EntryInflates(za, st, buffer))
            fail(QStringLiteral("%1 não confere ao descompactar").arg(it.key()));
    }
    zip_discard(za);
}
