// The command line and the schedule of the automatic generation.
#include "host/errors.h"
#include "server/autogen.h"
#include "server/autogenlock.h"

#include <chrono>
#include <cstdio>

namespace vnd::server
{

namespace
{
constexpr int kBusyRetrySeconds = 5;
}

AutoGenOptions TakeAutoGenOptions(QStringList &args)
{
    AutoGenOptions o;
    if (!args.isEmpty() && args[0] == QLatin1String("generate")) {
        o.generateCommand = true;
        args.removeFirst();
    }
    for (int i = 0; i < args.size();) {
        const QString opt = args[i];
        if (opt != QLatin1String("--auto-generate") && opt != QLatin1String("--auto-generate-every")) {
            ++i;
            continue;
        }
        if (i + 1 >= args.size())
            throw Exception(QStringLiteral("Falta o valor de %1.").arg(opt));
        const QString value = args[i + 1];
        if (opt == QLatin1String("--auto-generate")) {
            o.dailyAt = QTime::fromString(value, QStringLiteral("HH:mm"));
            if (!o.dailyAt.isValid())
                throw Exception(
                    QStringLiteral(
                        "Horário inválido para --auto-generate: \"%1\" (use HH:MM, de 00:00 a 23:59).")
                        .arg(value));
        } else {
            bool ok = false;
            o.everyMinutes = value.toInt(&ok);
            if (!ok || o.everyMinutes < 1 || o.everyMinutes > 10080)
                throw Exception(
                    QStringLiteral(
                        "Valor inválido para --auto-generate-every: \"%1\" (minutos, de 1 a 10080).")
                        .arg(value));
        }
        args.remove(i, 2);
    }
    if (o.dailyAt.isValid() && o.everyMinutes > 0)
        throw Exception(QStringLiteral("Use --auto-generate ou --auto-generate-every, não os dois."));
    if (o.generateCommand && o.Scheduled())
        throw Exception(
            QStringLiteral("O comando generate faz uma geração e termina; não aceita --auto-generate."));
    return o;
}

QString AutoGenUsage()
{
    return QStringLiteral(
        "     vnd-server ... [--auto-generate HH:MM | --auto-generate-every MINUTOS]   geração automática "
        "agendada\n"
        "     vnd-server generate [--db URL] [--export-root PASTA]   uma geração automática agora (saída 1: "
        "alguma venda falhou; 3: outra geração está em andamento no banco)\n");
}

QDateTime AutoGenScheduler::NextRun(const AutoGenOptions &options, const QDateTime &from)
{
    if (options.everyMinutes > 0)
        return from.addSecs(qint64(options.everyMinutes) * 60);
    QDateTime at(from.date(), options.dailyAt);
    if (at < from)
        at = QDateTime(from.date().addDays(1), options.dailyAt);
    return at;
}

AutoGenScheduler::AutoGenScheduler(const ServerDb &db, QString exportRoot, AutoGenOptions options)
    : m_db(db), m_root(std::move(exportRoot)), m_options(options)
{
    if (!m_options.Scheduled())
        return;
    if (m_options.everyMinutes > 0)
        std::fprintf(stderr, "geração automática a cada %d minuto(s)\n", m_options.everyMinutes);
    else
        std::fprintf(stderr, "geração automática diária às %s\n",
                     qPrintable(m_options.dailyAt.toString(QStringLiteral("HH:mm"))));
    m_thread = std::thread([this] { Loop(); });
}

AutoGenScheduler::~AutoGenScheduler()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void AutoGenScheduler::Loop()
{
    // A periodic schedule starts with a run, which takes up what came in while the server was down.
    QDateTime next = m_options.everyMinutes > 0 ? QDateTime::currentDateTime()
                                                : NextRun(m_options, QDateTime::currentDateTime());
    if (m_options.dailyAt.isValid()) {
        try {
            const AutoGenReport report = RecoverAutoGeneration(m_db, m_root);
            if (report.archivesCompleted > 0 || report.archivesUndone > 0 || report.leftoversRemoved > 0)
                std::fprintf(stderr, "%s\n", qPrintable(DescribeAutoGen(report)));
        } catch (const EGeracaoEmAndamento &) {
            // The running generation makes it right itself.
        } catch (const std::exception &e) {
            std::fprintf(stderr, "geração automática: %s\n", e.what());
        }
    }
    bool waiting = false;
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        const QDateTime now = QDateTime::currentDateTime();
        if (now < next) {
            // Waking at least once a minute keeps the daily time right when the clock is set.
            const qint64 ms = std::min<qint64>(now.msecsTo(next), 60000);
            m_wake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return m_stop; });
            continue;
        }
        lock.unlock();
        try {
            const AutoGenReport report = RunAutoGeneration(m_db, m_root);
            for (const QString &error : report.errors)
                std::fprintf(stderr, "geração automática: %s\n", qPrintable(error));
            std::fprintf(stderr, "%s\n", qPrintable(DescribeAutoGen(report)));
            waiting = false;
        } catch (const EGeracaoEmAndamento &e) {
            // The other run may take long; this one starts as soon as it ends.
            if (!waiting)
                std::fprintf(stderr, "%s Aguardando.\n", qPrintable(e.Message()));
            waiting = true;
            lock.lock();
            next = QDateTime::currentDateTime().addSecs(kBusyRetrySeconds);
            continue;
        } catch (const Exception &e) {
            std::fprintf(stderr, "%s\n", qPrintable(e.Message()));
        } catch (const std::exception &e) {
            std::fprintf(stderr, "geração automática: %s\n", e.what());
        }
        lock.lock();
        next = NextRun(m_options, QDateTime::currentDateTime());
    }
}

} // namespace vnd::server
