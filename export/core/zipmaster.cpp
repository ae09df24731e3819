#include "export/core/zipmaster.h"

#include "host/errors.h"

#include <QFile>
#include <QFileInfo>
#include <zip.h>
#include <zlib.h>

namespace {

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
    uLong c = crc32(0L, Z_NULL, 0);
    size = 0;
    QByteArray block;
    while (!(block = f.read(1 << 20)).isEmpty()) {
        c = crc32(c, reinterpret_cast<const Bytef *>(block.constData()), uInt(block.size()));
        size += block.size();
    }
    crc = quint32(c);
    return true;
}

} // namespace

void TZipMaster::Add()
{
    const QByteArray archive = QFile::encodeName(ZipFileName);
    int code = 0;
    zip_t *za = zip_open(archive.constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!za)
        throw Exception(QStringLiteral("Não foi possível criar o arquivo compactado %1: %2").arg(ZipFileName, OpenError(code)));
    // One entry named by the file name alone, at the highest compression.
    auto include = [&](zip_source_t *src, const QString &name, const QString &shown) {
        const QByteArray entry = name.toUtf8();
        zip_int64_t index = -1;
        if (src)
            index = zip_file_add(za, entry.constData(), src, ZIP_FL_ENC_UTF_8 | ZIP_FL_OVERWRITE);
        if (index < 0 || zip_set_file_compression(za, zip_uint64_t(index), ZIP_CM_DEFLATE, 9) < 0) {
            const QString why = ZipError(za);
            if (src && index < 0)
                zip_source_free(src);
            zip_discard(za);
            throw Exception(QStringLiteral("Não foi possível incluir %1 no arquivo compactado %2: %3").arg(shown, ZipFileName, why));
        }
    };
    for (const QString &path : FSpecArgs)
        include(zip_source_file(za, QFile::encodeName(path).constData(), 0, -1), QFileInfo(path).fileName(), path);
    // The bytes in memory stay with the caller until the archive is closed below.
    for (const MemoryFile &file : FSpecMemory)
        include(zip_source_buffer(za, file.data.constData(), zip_uint64_t(file.data.size()), 0), file.name, file.name);
    if (zip_close(za) < 0) {
        const QString why = ZipError(za);
        zip_discard(za);
        throw Exception(QStringLiteral("Não foi possível gravar o arquivo compactado %1: %2").arg(ZipFileName, why));
    }
}

void TZipMaster::Verify() const
{
    const QByteArray archive = QFile::encodeName(ZipFileName);
    int code = 0;
    zip_t *za = zip_open(archive.constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
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
            crc = quint32(crc32(crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef *>(data->constData()), uInt(data->size())));
            size = data->size();
        } else if (!FileCrc(it.value().path, crc, size)) {
            fail(QStringLiteral("não foi possível ler %1").arg(it.value().path));
        }
        if (st.crc != crc || qint64(st.size) != size)
            fail(QStringLiteral("%1 difere do arquivo gravado").arg(it.key()));
        // Inflating the entry makes libzip check the stored CRC against the data itself.
        zip_file_t *zf = zip_fopen_index(za, st.index, 0);
        if (!zf)
            fail(QStringLiteral("%1 não pode ser lido").arg(it.key()));
        zip_int64_t n = 0;
        qint64 total = 0;
        while ((n = zip_fread(zf, buffer.data(), zip_uint64_t(buffer.size()))) > 0)
            total += n;
        const bool bad = n < 0 || total != size;
        zip_fclose(zf);
        if (bad)
            fail(QStringLiteral("%1 não confere ao descompactar").arg(it.key()));
    }
    zip_discard(za);
}
