#include "host/platform.h"

#include "host/errors.h"

#include <QTextStream>
#include <cstdio>

namespace {

// Used where no screen exists (server, command line, tests that do not install a double): messages go to
// the standard streams and questions are answered No.
class ConsolePlatform : public IPlatform
{
public:
    bool AskYesNo(const QString &text) override
    {
        std::fprintf(stderr, "%s [Não]\n", text.toUtf8().constData());
        return false;
    }
    void Info(const QString &text) override { std::fprintf(stdout, "%s\n", text.toUtf8().constData()); }
    void Error(const QString &text) override { std::fprintf(stderr, "%s\n", text.toUtf8().constData()); }
    bool SelectFolder(const QString &, QString &) override { return false; }
    void SetHourglass(bool) override {}
    void BusyShow() override {}
    void BusyProgress(const QString &) override {}
    void BusyHide() override {}
};

std::shared_ptr<IPlatform> &Current()
{
    static std::shared_ptr<IPlatform> platform = std::make_shared<ConsolePlatform>();
    return platform;
}

int g_busyDepth = 0;

} // namespace

IPlatform &Platform() { return *Current(); }

std::shared_ptr<IPlatform> SetPlatform(std::shared_ptr<IPlatform> platform)
{
    auto previous = Current();
    Current() = platform ? std::move(platform) : std::make_shared<ConsolePlatform>();
    return previous;
}

void MensErro(const QString &text, bool)
{
    Platform().Error(text);
    throw EAbort();
}

void ActiveShowAvi(QObject *, int)
{
    // Nested busy sections share one indicator; it is shown by the outermost and hidden by it.
    if (g_busyDepth++ == 0)
        Platform().BusyShow();
}

void DeactiveShowAvi()
{
    if (g_busyDepth == 0)
        return;
    if (--g_busyDepth == 0)
        Platform().BusyHide();
}

namespace vnd {

void RunHandler(const std::function<void()> &handler)
{
    try {
        handler();
    } catch (const EAbort &) {
    } catch (const Exception &e) {
        Platform().Error(e.Message());
    } catch (const std::exception &e) {
        Platform().Error(QString::fromUtf8(e.what()));
    }
}

} // namespace vnd
