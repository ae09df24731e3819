#include "cli/console.h"

#include <QRegularExpression>
#include <algorithm>
#include <limits>
#include <unistd.h>

namespace vnd::cli
{

namespace
{

struct Leitura {
    QString rotulo;
    qint64 atual = -1;
    qint64 total = -1;
};

Leitura LeProgresso(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^(.*?)(\\d+)(?: de (\\d+))?\\s*$"));
    Leitura l;
    const auto m = re.match(text);
    if (!m.hasMatch()) {
        l.rotulo = text;
        return l;
    }
    l.rotulo = m.captured(1).trimmed();
    l.atual = m.captured(2).toLongLong();
    if (m.capturedLength(3) > 0)
        l.total = m.captured(3).toLongLong();
    return l;
}

void Imprime(std::FILE *f, const QString &text)
{
    std::fputs(text.toUtf8().constData(), f);
    std::fflush(f);
}

} // namespace

TConsolePlatform::TConsolePlatform(bool quiet, bool terminal, std::FILE *out, std::FILE *err)
    : m_quiet(quiet), m_terminal(terminal), m_out(out), m_err(err)
{
}

bool TConsolePlatform::ErroEhTerminal()
{
    return ::isatty(STDERR_FILENO) == 1;
}

void TConsolePlatform::FechaLinha()
{
    if (m_linhaAberta) {
        Imprime(m_err, QStringLiteral("\n"));
        m_linhaAberta = false;
    }
}

bool TConsolePlatform::AskYesNo(const QString &text)
{
    FechaLinha();
    Imprime(m_err, text + QStringLiteral(" [Não]\n"));
    return false;
}

void TConsolePlatform::Info(const QString &text)
{
    FechaLinha();
    Imprime(m_out, text + QLatin1Char('\n'));
}

void TConsolePlatform::Error(const QString &text)
{
    FechaLinha();
    Imprime(m_err, text + QLatin1Char('\n'));
}

bool TConsolePlatform::SelectFolder(const QString &, QString &)
{
    return false;
}

void TConsolePlatform::BusyShow()
{
    m_relogio.start();
    m_rotulo.clear();
    m_ultimoMilhar = -1;
}

void TConsolePlatform::BusyProgress(const QString &text)
{
    if (m_quiet)
        return;
    const Leitura l = LeProgresso(text);
    if (l.rotulo != m_rotulo) {
        // A new phase counts from its own start.
        FechaLinha();
        m_rotulo = l.rotulo;
        m_ultimoMilhar = -1;
        m_relogio.start();
    }
    // Under a second the rate says nothing yet.
    const qint64 ms = m_relogio.elapsed();
    const QString taxa = l.atual >= 0 && ms >= 1000
                             ? QStringLiteral(" (%1/s)").arg(l.atual * 1000.0 / ms, 0, 'f', 1)
                             : QString();
    if (m_terminal) {
        QString barra;
        if (l.total > 0) {
            const int cheios = int(30 * std::min(l.atual, l.total) / l.total);
            barra = QStringLiteral("[") + QString(cheios, QLatin1Char('#')) +
                    QString(30 - cheios, QLatin1Char('.')) + QStringLiteral("] ");
        }
        Imprime(m_err, QStringLiteral("\r") + barra + text + taxa + QStringLiteral("\x1b[K"));
        m_linhaAberta = true;
        return;
    }
    // A log file gets one line per thousand items and the last one, not a line per item.
    const qint64 milhar = l.atual < 0 ? -1 : l.atual / 1000;
    const bool ultimo = l.total > 0 && l.atual == l.total;
    if (milhar > m_ultimoMilhar || ultimo) {
        m_ultimoMilhar = ultimo ? std::numeric_limits<qint64>::max() : milhar;
        Imprime(m_err, text + taxa + QLatin1Char('\n'));
    }
}

void TConsolePlatform::BusyHide()
{
    FechaLinha();
}

} // namespace vnd::cli
