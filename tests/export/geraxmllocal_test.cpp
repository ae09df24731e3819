// The local export over a sale list: selection, folders, SAT files, archives and failures.
#include "export/core/geraxmllocal.h"
#include "export/core/salelist.h"
#include "export/core/zipmaster.h"
#include "host/errors.h"
#include "host/recordset.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <zip.h>

#include <csignal>
#include <sys/prctl.h>

namespace {

QByteArray Key(int n) { return QByteArray("3516101234567800019065001") + QByteArray::number(n).rightJustified(19, '0'); }

QByteArray Nfe(const QByteArray &key)
{
    return "<NFe xmlns=\"http://www.portalfiscal.inf.br/nfe\"><infNFe Id=\"NFe" + key +
           "\" versao=\"3.10\"><ide/></infNFe><Signature><DigestValue>abcdefghijklmnopqrstuvwxyz0=</DigestValue>"
           "</Signature></NFe>";
}

struct Sale
{
    QByteArray branch = "0001", reg = "001", kind = "N", status = {}, cancelDoc = {};
    QDate day = QDate(2016, 5, 10);
    QByteArray check = "S";
};

void Add(TClientDataSet &cds, int n, const Sale &s)
{
    const QByteArray key = s.kind == "N" ? Key(n) : "CFe" + Key(n);
    cds.Append();
    auto set = [&](const char *f, const QVariant &v) { cds.FieldByName(QString::fromLatin1(f)).SetValue(v); };
    set("IDCHECK", s.check);
    set("CDFILIAL", s.branch);
    set("CDCAIXA", s.reg);
    set("DTENTRVENDA", QDateTime(s.day, QTime(0, 0)));
    set("IDTPEMISVEND", s.kind);
    set("NRACESSONFCE", key);
    set("DSARQXMLNFCE", s.kind == "N" ? Nfe(key) : "<CFe><infCFe Id=\"" + key + "\"/>\r\n</CFe>");
    set("IDSTATUSNFCE", s.status);
    set("DSARQXMLCANCNFCE", s.cancelDoc);
    set("DSQRCODENFCE", "qr");
    set("WSSITEUFQRCODENFC", "site");
    set("CDVERSAOXMLNFCE", "3.10");
    set("NRPROTOCOLONFCE", "135160000000001");
    set("DTHRPROTOCONFCE", QDateTime(s.day, QTime(9, 0)));
    set("IDTPAMBNFCE", "1");
    set("NRINSJURIEST", "12345678000190");
    set("DSRAZAOCANCNFCE", "Cancelada a pedido do cliente");
    set("DTHRPROTOCOCANC", QDateTime(s.day, QTime(10, 0)));
    set("NRPROTOCOLOCANC", "135160000000002");
    cds.Post();
}

// The files below root, without the summaries of finished runs (checked on their own).
QStringList Files(const QString &root)
{
    QStringList out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = QDir(root).relativeFilePath(it.next());
        if (!path.startsWith(QLatin1String("resumo-")))
            out << path;
    }
    out.sort();
    return out;
}

QStringList Summaries(const QString &root)
{
    // The CSV is written last of all.
    return QDir(root).entryList({QStringLiteral("resumo-*.csv")}, QDir::Files, QDir::Name);
}

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int ZipEntries(const QString &path)
{
    int err = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &err);
    if (!za)
        return -1;
    const int n = int(zip_get_num_entries(za, 0));
    zip_discard(za);
    return n;
}

} // namespace

TEST(GeraXmlLocal, WritesTickedSalesIntoBranchRegisterDayFolders)
{
    TClientDataSet cds;
    vnd::DefineCdsNotas(cds);
    Add(cds, 1, {});
    Add(cds, 2, {.branch = "0002", .check = "N"});
    Add(cds, 3, {.reg = "002", .status = "C"});
    Add(cds, 4, {.kind = "S", .status = "C", .cancelDoc = "<CFeCanc>\r\nx</CFeCanc>"});
    Add(cds, 5, {.kind = "S", .cancelDoc = "<CFeCanc/>"});               // not cancelled: AD only
    Add(cds, 6, {.kind = "S", .status = "C", .day = QDate(2016, 5, 11)}); // cancelled, nothing stored: AD only
    QTemporaryDir dir;
    ASSERT_TRUE(vnd::GeraXmlLocal(cds, dir.path(), false));
    const QString k = QString::fromLatin1(Key(0)).left(25);
    auto key = [](int n) { return QString::fromLatin1(Key(n)); };
    EXPECT_EQ(Files(dir.path()), QStringList({
                                     "0001/001/2016-05-10/AD" + key(4) + ".xml",
                                     "0001/001/2016-05-10/AD" + key(5) + ".xml",
                                     "0001/001/2016-05-10/ADC" + key(4) + ".xml",
                                     "0001/001/2016-05-10/NFCe" + key(1) + "-pro-rec.xml",
                                     "0001/001/2016-05-11/AD" + key(6) + ".xml",
                                     "0001/002/2016-05-10/NFCe" + key(3) + "-pro-can.xml",
                                     "0001/002/2016-05-10/NFCe" + key(3) + "-pro-rec.xml",
                                 }));
    // SAT files are the stored text, line-break pairs removed, with the final CR LF.
    QFile ad(dir.filePath("0001/001/2016-05-10/ADC" + key(4) + ".xml"));
    ASSERT_TRUE(ad.open(QIODevice::ReadOnly));
    EXPECT_EQ(ad.readAll(), QByteArray("<CFeCanc>x</CFeCanc>\r\n"));
    // The list comes back unfiltered, ticks untouched.
    EXPECT_FALSE(cds.Filtered());
    EXPECT_EQ(cds.RecordCount(), 6);
}

TEST(GeraXmlLocal, EventsRebuiltWithoutSignatureAreCountedAndListed)
{
    TClientDataSet cds;
    vnd::DefineCdsNotas(cds);
    Add(cds, 1, {.status = "C"});                                            // no stored event: rebuilt
    Add(cds, 2, {.status = "C", .cancelDoc = "<procEventoNFe>x</procEventoNFe>"}); // stored: as it is
    Add(cds, 3, {.kind = "S", .status = "C", .cancelDoc = "<CFeCanc/>"});     // SAT: stored coupon
    QTemporaryDir dir;
    vnd::ExportSummary result;
    ASSERT_TRUE(vnd::GeraXmlLocal(cds, dir.path(), false, nullptr, &result));
    const QString rebuilt = QStringLiteral("NFCe") + QString::fromLatin1(Key(1)) + QStringLiteral("-pro-can.xml");
    EXPECT_EQ(result.unsignedEvents, QStringList{rebuilt});
    const QStringList summaries = Summaries(dir.path());
    ASSERT_EQ(summaries.size(), 1);
    const QString text = QString::fromUtf8(ReadAll(dir.filePath(summaries.first())));
    // Listed as an event without a signature: the rebuilt one only.
    const QStringList listed = text.split(QStringLiteral("\r\n")).filter(QStringLiteral("evento sem assinatura;"));
    ASSERT_EQ(listed.size(), 1) << text.toStdString();
    EXPECT_TRUE(listed.first().contains(rebuilt)) << text.toStdString();
}

TEST(GeraXmlLocal, NothingTickedWritesNothing)
{
    TClientDataSet cds;
    vnd::DefineCdsNotas(cds);
    Add(cds, 1, {.check = "N"});
    QTemporaryDir dir;
    EXPECT_TRUE(vnd::GeraXmlLocal(cds, dir.path(), true));
    EXPECT_TRUE(Files(dir.path()).isEmpty());
}

TEST(GeraXmlLocal, CompressionPacks2500FilesIntoThreeArchivesOneSecondApart)
{
    TClientDataSet cds;
    vnd::DefineCdsNotas(cds);
    cds.DisableControls();
    for (int i = 0; i < 2500; ++i)
        Add(cds, i, {.branch = i % 2 ? "0001" : "0002"});
    QTemporaryDir dir;
    ASSERT_TRUE(vnd::GeraXmlLocal(cds, dir.path(), true));
    const QStringList files = Files(dir.path());
    ASSERT_EQ(files.size(), 3);
    QList<QDateTime> stamps;
    for (const QString &f : files) {
        ASSERT_TRUE(f.startsWith(QStringLiteral("ArquivosXML_")) && f.endsWith(QStringLiteral(".zip"))) << f.toStdString();
        stamps << QDateTime::fromString(f.mid(12, 15), QStringLiteral("ddMMyyyy HHmmss"));
    }
    std::sort(stamps.begin(), stamps.end());
    EXPECT_EQ(stamps[0].secsTo(stamps[1]), 1);
    EXPECT_EQ(stamps[1].secsTo(stamps[2]), 1);
    QList<int> counts;
    for (const QString &f : files)
        counts << ZipEntries(dir.filePath(f));
    std::sort(counts.begin(), counts.end());
    EXPECT_EQ(counts, QList<int>({500, 1000, 1000}));
}

TEST(GeraXmlLocal, FailuresNameTheSaleAndKeepWhatWasWritten)
{
    TClientDataSet cds;
    vnd::DefineCdsNotas(cds);
    Add(cds, 1, {});
    Add(cds, 2, {.branch = "../.."});
    Add(cds, 3, {});
    QTemporaryDir dir;
    try {
        vnd::GeraXmlLocal(cds, dir.path(), false);
        FAIL() << "a branch leaving the folder must stop the export";
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().endsWith(QStringLiteral(" - ") + QString::fromLatin1(Key(2)))) << e.Message().toStdString();
    }
    EXPECT_EQ(Files(dir.path()).size(), 1);
    EXPECT_FALSE(cds.Filtered());

    // A folder that cannot be created (below a plain file, which even root cannot do).
    QFile plain(dir.filePath(QStringLiteral("plain")));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    TClientDataSet one;
    vnd::DefineCdsNotas(one);
    Add(one, 7, {});
    try {
        vnd::GeraXmlLocal(one, dir.filePath(QStringLiteral("plain/sub")), false);
        FAIL();
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("pasta"))) << e.Message().toStdString();
        EXPECT_TRUE(e.Message().endsWith(QString::fromLatin1(Key(7))));
    }
}

TEST(GeraXmlLocal, AnArchiveThatFailsKeepsTheLooseFiles)
{
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 3; ++i) {
        const QString p = dir.filePath(QStringLiteral("f%1.xml").arg(i));
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<x/>");
        paths << p;
    }
    paths << dir.filePath(QStringLiteral("missing.xml"));
    const QDateTime t(QDate(2026, 1, 2), QTime(3, 4, 5));
    try {
        vnd::ArchiveFiles(dir.path(), paths, t);
        FAIL();
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("ArquivosXML_02012026 030405.zip"))) << e.Message().toStdString();
    }
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(QFile::exists(paths[i]));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("ArquivosXML_02012026 030405.zip"))));

    // A name taken by an earlier run is not overwritten: the next second is used.
    paths.removeLast();
    QFile taken(dir.filePath(QStringLiteral("ArquivosXML_02012026 030405.zip")));
    ASSERT_TRUE(taken.open(QIODevice::WriteOnly));
    taken.write("earlier");
    taken.close();
    const QStringList made = vnd::ArchiveFiles(dir.path(), paths, t);
    ASSERT_EQ(made.size(), 1);
    EXPECT_TRUE(made[0].endsWith(QStringLiteral("ArquivosXML_02012026 030406.zip")));
    EXPECT_EQ(ZipEntries(made[0]), 3);
    for (int i = 0; i < 3; ++i)
        EXPECT_FALSE(QFile::exists(paths[i]));
}

// Batches are compressed while the run goes on writing; a run that fails before the end leaves its loose
// files and no archive holding part of them.
TEST(GeraXmlLocal, ARunThatStopsHalfWayLeavesTheLooseFilesAndNoArchive)
{
    QTemporaryDir dir;
    QStringList paths;
    for (int i = 0; i < 2300; ++i) {
        const QString p = dir.filePath(QStringLiteral("f%1.xml").arg(i, 4, 10, QLatin1Char('0')));
        QFile f(p);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("<x/>");
        paths << p;
    }
    {
        vnd::ArchiveQueue queue(dir.path(), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        for (const QString &p : paths)
            queue.Add(p); // two full batches are queued and compressed meanwhile
    }
    const QStringList left = QDir(dir.path()).entryList(QDir::Files);
    EXPECT_EQ(left.size(), paths.size());
    for (const QString &name : left)
        EXPECT_TRUE(name.endsWith(QStringLiteral(".xml"))) << name.toStdString();
}

namespace {
// Entry names of an archive.
QStringList ZipNames(const QString &path)
{
    QStringList names;
    int err = 0;
    zip_t *za = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &err);
    if (!za)
        return names;
    for (zip_int64_t i = 0; i < zip_get_num_entries(za, 0); ++i)
        names << QString::fromUtf8(zip_get_name(za, zip_uint64_t(i), 0));
    zip_discard(za);
    return names;
}
} // namespace

// Files handed over in memory are archived without a loose copy; when the run stops half-way, each one is
// in exactly one place: a verified archive, or a whole loose file with its CR LF.
TEST(GeraXmlLocal, FilesInMemoryEndUpOnceInAnArchiveOrLoose)
{
    QTemporaryDir dir;
    QStringList names;
    {
        vnd::ArchiveQueue queue(dir.path(), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
        for (int i = 0; i < 2300; ++i) {
            names << QStringLiteral("f%1.xml").arg(i, 4, 10, QLatin1Char('0'));
            queue.Add(dir.filePath(names.last()), "<x n=\"" + QByteArray::number(i) + "\"/>");
        }
    }
    QStringList seen;
    for (const QString &file : QDir(dir.path()).entryList(QDir::Files)) {
        if (file.endsWith(QStringLiteral(".zip"))) {
            seen << ZipNames(dir.filePath(file));
            continue;
        }
        QFile f(dir.filePath(file));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
        EXPECT_EQ(f.readAll(), "<x n=\"" + QByteArray::number(file.mid(1, 4).toInt()) + "\"/>\r\n");
        seen << file;
    }
    std::sort(seen.begin(), seen.end());
    EXPECT_EQ(seen, names);

    // A finished run leaves archives only, whose entries carry the final CR LF.
    QTemporaryDir done;
    vnd::ArchiveQueue queue(done.path(), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    for (int i = 0; i < 1500; ++i)
        queue.Add(done.filePath(QStringLiteral("g%1.xml").arg(i)), "<y/>");
    const QStringList archives = queue.Finish();
    ASSERT_EQ(archives.size(), 2);
    EXPECT_EQ(QDir(done.path()).entryList(QDir::Files).size(), 2);
    EXPECT_EQ(ZipNames(archives[0]).size() + ZipNames(archives[1]).size(), 1500);
    int err = 0;
    zip_t *za = zip_open(QFile::encodeName(archives[1]).constData(), ZIP_RDONLY, &err);
    ASSERT_NE(za, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat_index(za, 0, 0, &st), 0);
    EXPECT_EQ(st.size, 6u);
    zip_discard(za);
}

// An archive that cannot be written leaves its files loose, whole, and the error names the archive.
TEST(GeraXmlLocal, FilesInMemoryOfAFailedArchiveAreWrittenLoose)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("sem-pasta"));
    vnd::ArchiveQueue queue(missing, QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5)));
    for (int i = 0; i < 3; ++i)
        queue.Add(dir.filePath(QStringLiteral("h%1.xml").arg(i)), "<z/>");
    try {
        queue.Finish();
        FAIL();
    } catch (const Exception &e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("ArquivosXML_02012026 030405.zip"))) << e.Message().toStdString();
    }
    for (int i = 0; i < 3; ++i) {
        QFile f(dir.filePath(QStringLiteral("h%1.xml").arg(i)));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), "<z/>\r\n");
    }
}

namespace {

const char kCrashDirVar[] = "VND_EXPORT_CRASH_DIR";

void FillCrashList(TClientDataSet &cds, int sales)
{
    vnd::DefineCdsNotas(cds);
    cds.DisableControls();
    for (int i = 0; i < sales; ++i)
        Add(cds, i, {.branch = i % 2 ? "0001" : "0002", .status = i % 7 ? QByteArray() : QByteArray("C"),
                     .day = QDate(2016, 5, 10 + i % 3)});
}

// Every entry of the archives below root and every loose fiscal file, by name, as often as they occur.
QStringList Contents(const QString &root, QStringList *temporary)
{
    QStringList names;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString name = it.fileName();
        if (name.startsWith(QLatin1String("ArquivosXML_")) && name.endsWith(QLatin1String(".zip")))
            names << ZipNames(path);
        else if (name.endsWith(QLatin1String(".xml")))
            names << name;
        else if (!name.startsWith(QLatin1String("resumo-")))
            *temporary << QDir(root).relativeFilePath(path);
    }
    names.sort();
    return names;
}

} // namespace

// The child: exports the crash list into the folder named by the environment.
TEST(ExportCrashChild, Run)
{
    const QString dir = qEnvironmentVariable(kCrashDirVar);
    if (dir.isEmpty())
        GTEST_SKIP() << "run as the child of ExportCrash only";
    TClientDataSet cds;
    FillCrashList(cds, qEnvironmentVariableIntValue("VND_EXPORT_CRASH_SALES"));
    vnd::GeraXmlLocal(cds, dir, qEnvironmentVariable("VND_EXPORT_CRASH_ZIP") == QLatin1String("S"));
}

// Exports killed at random moments leave no summary, so they are recognisable; the next run in the same
// folder removes what they left under temporary names, and its summary names every archive it made.
TEST(ExportCrash, AKilledExportHasNoSummaryAndTheNextRunClearsItsTemporaryFiles)
{
    QRandomGenerator random(20261209);
    for (const bool zip : {true, false}) {
        QTemporaryDir dir;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kCrashDirVar), dir.path());
        env.insert(QStringLiteral("VND_EXPORT_CRASH_ZIP"), zip ? QStringLiteral("S") : QStringLiteral("N"));
        // Three archives; loose files, one by one, are slower to write.
        const int sales = zip ? 3000 : 500;
        env.insert(QStringLiteral("VND_EXPORT_CRASH_SALES"), QString::number(sales));
        auto run = [&] {
            auto child = std::make_unique<QProcess>();
            child->setProcessEnvironment(env);
            child->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            child->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
            child->start(QCoreApplication::applicationFilePath(), {QStringLiteral("--gtest_filter=ExportCrashChild.Run")});
            EXPECT_TRUE(child->waitForStarted());
            return child;
        };
        QElapsedTimer clock;
        clock.start();
        run()->waitForFinished(120000);
        const int duration = std::max<int>(int(clock.elapsed()), 200);
        ASSERT_EQ(Summaries(dir.path()).size(), 1);
        QStringList temporary;
        const QStringList whole = Contents(dir.path(), &temporary);
        ASSERT_TRUE(temporary.isEmpty()) << temporary.join(' ').toStdString();
        QDir(dir.path()).removeRecursively();
        ASSERT_TRUE(QDir().mkpath(dir.path()));

        int kills = 0, finished = 0;
        for (int round = 0; round < 30 && kills < 6; ++round) {
            auto child = run();
            if (!child->waitForFinished(int(random.bounded(30, duration)))) {
                child->kill();
                child->waitForFinished();
                // Killed after its summary was written, on its way out, it had finished.
                if (Summaries(dir.path()).size() == finished + 1)
                    ++finished;
                else
                    ++kills;
            } else {
                ++finished;
            }
            ASSERT_EQ(Summaries(dir.path()).size(), finished) << "a summary only for a finished run";
        }
        EXPECT_GE(kills, 6);
        ASSERT_TRUE(run()->waitForFinished(120000));
        temporary.clear();
        const QStringList after = Contents(dir.path(), &temporary);
        EXPECT_TRUE(temporary.isEmpty()) << temporary.join(' ').toStdString();
        // The last summary names archives that are all there and whole, holding every file once.
        const QStringList summaries = Summaries(dir.path());
        ASSERT_FALSE(summaries.isEmpty());
        const QStringList lines = QString::fromUtf8(ReadAll(dir.filePath(summaries.last()))).split(QStringLiteral("\r\n"));
        ASSERT_GT(lines.size(), 3);
        EXPECT_TRUE(lines[0].startsWith(QStringLiteral("tipo;")));
        QStringList named;
        int sold = 0;
        for (const QString &line : lines) {
            const QStringList f = line.split(QLatin1Char(';'));
            if (f[0] == QLatin1String("movimento"))
                sold += f[6].toInt() + f[7].toInt();
            else if (zip && f[0] == QString::fromUtf8("arquivo compactado"))
                named << ZipNames(dir.filePath(f[12]));
            else if (!zip && f[0] == QLatin1String("arquivo"))
                named << f[12].section(QLatin1Char('/'), -1);
        }
        EXPECT_EQ(sold, sales);
        named.sort();
        EXPECT_EQ(named.size(), whole.size());
        EXPECT_TRUE(named == whole);
        if (!zip) {
            EXPECT_TRUE(after == whole) << "loose files are written over, never twice";
        }
    }
}

// The archive is read back before it counts: an entry whose stored bytes were damaged on the way to the
// disk is found, whether it is held in memory or read from a file.
TEST(ArchiveReadBack, ADamagedEntryIsFoundWhenTheArchiveIsChecked)
{
    QTemporaryDir dir;
    const QString loose = dir.filePath(QStringLiteral("solto.xml"));
    QByteArray text;
    for (int i = 0; i < 400; ++i)
        text += "<det nItem=\"" + QByteArray::number(i) + "\"><prod><xProd>ITEM " + QByteArray::number(i * 7) + "</xProd></prod></det>";
    {
        QFile f(loose);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    TZipMaster zip;
    zip.ZipFileName = dir.filePath(QStringLiteral("a.zip"));
    zip.FSpecMemory = {{QStringLiteral("memoria.xml"), text + "fim"}};
    zip.FSpecArgs = {loose};
    zip.Add();
    EXPECT_NO_THROW(zip.Verify());
    EXPECT_EQ(QProcess::execute(QStringLiteral("unzip"), {QStringLiteral("-tqq"), zip.ZipFileName}), 0);

    // Each entry in turn: one byte in the middle of its deflated data, then the check.
    const QByteArray good = ReadAll(zip.ZipFileName);
    int err = 0;
    zip_t *za = zip_open(QFile::encodeName(zip.ZipFileName).constData(), ZIP_RDONLY, &err);
    ASSERT_NE(za, nullptr);
    QList<qint64> middles;
    for (zip_uint64_t i = 0; i < 2; ++i) {
        zip_stat_t st;
        ASSERT_EQ(zip_stat_index(za, i, 0, &st), 0);
        const qint64 at = good.indexOf(QByteArray(st.name)) + qint64(strlen(st.name)); // past the local header's name
        middles << at + qint64(st.comp_size) / 2;
    }
    zip_discard(za);
    for (const qint64 at : middles) {
        QByteArray bad = good;
        bad[at] = char(bad[at] ^ 0x55);
        QFile f(zip.ZipFileName);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(bad);
        f.close();
        try {
            zip.Verify();
            ADD_FAILURE() << "damage at " << at << " not found";
        } catch (const Exception &e) {
            EXPECT_TRUE(e.Message().contains(QStringLiteral("incompleto ou corrompido"))) << e.Message().toStdString();
        }
    }
}
