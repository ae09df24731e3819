#pragma once
// The platform services the screens and the logic call: message boxes, the folder dialog, the hourglass
// cursor and the busy indicator. Logic code calls them through Platform(); the host installs the Qt
// implementation, tests a scripted double, command-line programs a console one.

#include <QString>
#include <functional>
#include <memory>

class QObject;

class IPlatform
{
public:
    virtual ~IPlatform() = default;
    // Question with Yes and No; true for Yes.
    virtual bool AskYesNo(const QString &text) = 0;
    // Information with an OK button.
    virtual void Info(const QString &text) = 0;
    // Error box.
    virtual void Error(const QString &text) = 0;
    // Folder dialog; may create a typed folder after asking. Returns false when cancelled.
    virtual bool SelectFolder(const QString &caption, QString &folder) = 0;
    virtual void SetHourglass(bool on) = 0;
    // Busy indicator over the main window; Progress may show a count ("312 de 5000") and lets the
    // screen repaint during long work on the UI thread.
    virtual void BusyShow() = 0;
    virtual void BusyProgress(const QString &text) = 0;
    virtual void BusyHide() = 0;
    // Whether the user asked the work under the busy indicator to stop. Work that can stop cleanly
    // between two items asks before each one (the first question offers "Cancelar" on the indicator);
    // the request lasts until the indicator is shown again.
    virtual bool BusyCancelRequested() { return false; }
};

// The installed platform (a console one when none was installed).
IPlatform &Platform();
// Installs a platform; returns the previous one so that a test can restore it.
std::shared_ptr<IPlatform> SetPlatform(std::shared_ptr<IPlatform> platform);

// Shows the text as an error and aborts the running handler with a silent EAbort.
[[noreturn]] void MensErro(const QString &text, bool abort = true);

// Host busy animation; always paired, the guard below does it in a guaranteed clean-up.
void ActiveShowAvi(QObject *mainForm = nullptr, int kind = 6);
void DeactiveShowAvi();

namespace vnd {
class BusyGuard
{
public:
    BusyGuard() { ActiveShowAvi(); }
    ~BusyGuard() { DeactiveShowAvi(); }
    BusyGuard(const BusyGuard &) = delete;
    BusyGuard &operator=(const BusyGuard &) = delete;
};

class HourglassGuard
{
public:
    HourglassGuard() { Platform().SetHourglass(true); }
    ~HourglassGuard() { Platform().SetHourglass(false); }
    HourglassGuard(const HourglassGuard &) = delete;
    HourglassGuard &operator=(const HourglassGuard &) = delete;
};

// Runs an event handler: an EAbort ends it silently, any other error is shown through Platform().Error.
// Exceptions never cross the Qt event loop.
void RunHandler(const std::function<void()> &handler);
} // namespace vnd
