#pragma once
// The command line's platform: results on standard output, errors and progress on standard error,
// every question answered No (nobody is there to answer it).

#include "host/platform.h"

#include <QElapsedTimer>
#include <cstdio>

namespace vnd::cli
{

class TConsolePlatform : public IPlatform
{
  public:
    // quiet: no progress at all; terminal: a bar redrawn in place, else one line per 1000 items.
    TConsolePlatform(bool quiet, bool terminal, std::FILE *out = stdout, std::FILE *err = stderr);

    // Prints the question with the answer given ("[Não]") and returns false.
    bool AskYesNo(const QString &text) override;
    void Info(const QString &text) override;
    void Error(const QString &text) override;
    // No dialog to show: cancelled.
    bool SelectFolder(const QString &caption, QString &folder) override;
    void SetHourglass(bool) override {}
    void BusyShow() override;
    // Reads "label N de M" (or "label N"): the count and the rate go to standard error.
    void BusyProgress(const QString &text) override;
    void BusyHide() override;

    // Whether standard error is a terminal.
    static bool ErroEhTerminal();

  private:
    void FechaLinha();

    bool m_quiet;
    bool m_terminal;
    std::FILE *m_out;
    std::FILE *m_err;
    QElapsedTimer m_relogio;
    QString m_rotulo;
    qint64 m_ultimoMilhar = -1;
    bool m_linhaAberta = false;
};

} // namespace vnd::cli
