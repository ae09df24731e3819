#pragma once
// The scripted double of the platform dialogs. A test queues what it expects the code to show and how the
// "user" answers; each dialog takes the next expectation, which must be of its kind and text. An
// unexpected dialog fails the test with its text and is answered No / cancel. Every message seen and
// every busy-indicator text is recorded.

#include "host/ui/uiplatform.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

namespace vndtest
{

class ScriptedPlatform : public vnd::IUiPlatform
{
  public:
    enum class Match { Exact, Contains };

    ScriptedPlatform &ExpectQuestion(const QString &text, bool answer, Match match = Match::Exact);
    ScriptedPlatform &ExpectInfo(const QString &text, Match match = Match::Exact);
    ScriptedPlatform &ExpectError(const QString &text, Match match = Match::Exact);
    // The folder dialog answers this path.
    ScriptedPlatform &ExpectFolder(const QString &path);
    ScriptedPlatform &ExpectFolderCancel();
    // The save-file dialog answers this path (empty: cancelled).
    ScriptedPlatform &ExpectSaveFile(const QString &path);
    // "purpose|suggested name" of the last save-file dialog.
    QString LastSave() const { return m_lastSave; }
    // A row choice answered with these record positions (for a single choice, one).
    ScriptedPlatform &ExpectPick(std::vector<int> rows);
    ScriptedPlatform &ExpectPickCancel();
    // A modal screen named so: its object name or the class name of it or of one of its bases
    // ("TfrmEndArqXML"). It is shown without a modal loop, act drives it, and its result is what it was
    // closed with (Rejected if act leaves it open; it is then closed as a cancellation).
    ScriptedPlatform &ExpectModal(const QString &className, std::function<void(QDialog &)> act = {});

    // The user presses "Cancelar" on the busy indicator after that many progress texts of the next
    // busy section (0: at once).
    ScriptedPlatform &CancelBusyAfter(int progressTexts);
    bool BusyCancelRequested() override;

    // Every message, question and error seen, in order, as "kind: text" (pergunta, info, erro).
    const QStringList &Seen() const { return m_seen; }
    // Texts given to the busy indicator's progress, in order.
    const QStringList &BusyTexts() const { return m_busyTexts; }
    // What each row choice offered: its title and the preselected positions.
    QString LastPickTitle() const { return m_lastPickTitle; }
    std::vector<int> LastPickPreselected() const { return m_lastPickPreselected; }
    int BusyShows() const { return m_busyShows; }
    bool BusyVisible() const { return m_busyVisible; }
    int HourglassDepth() const { return m_hourglass; }
    // Descriptions of the expectations not yet consumed.
    QStringList Pending() const;

    bool AskYesNo(const QString &text) override;
    void Info(const QString &text) override;
    void Error(const QString &text) override;
    bool SelectFolder(const QString &caption, QString &folder) override;
    void SetHourglass(bool on) override;
    void BusyShow() override;
    void BusyProgress(const QString &text) override;
    void BusyHide() override;
    bool ChooseRows(const QString &title, TClientDataSet &data, bool multiple,
                    std::vector<int> &rows) override;
    int RunModal(QDialog &dialog) override;
    QString SaveFileName(const QString &caption, const QString &purpose, const QString &suggested,
                         const QString &filter) override;

  private:
    enum class Kind { Question, Info, Error, Folder, Pick, Modal, SaveFile };
    struct Expectation {
        Kind kind;
        QString text;
        Match match = Match::Exact;
        bool answer = false;
        std::vector<int> rows;
        std::function<void(QDialog &)> act;
    };
    // The next expectation when it is of this kind and matches the text, else nullptr (test failed).
    std::unique_ptr<Expectation> Take(Kind kind, const QString &text);

    std::deque<Expectation> m_queue;
    QStringList m_seen;
    QStringList m_busyTexts;
    QString m_lastPickTitle;
    QString m_lastSave;
    std::vector<int> m_lastPickPreselected;
    int m_busyShows = 0;
    int m_cancelAfter = -1;
    int m_progressSinceShow = 0;
    bool m_busyVisible = false;
    int m_hourglass = 0;
};

// Installs a scripted platform for the scope; on leaving, fails the test for expectations left unused and
// restores the platform installed before.
class ScopedPlatform
{
  public:
    ScopedPlatform();
    ~ScopedPlatform();
    ScopedPlatform(const ScopedPlatform &) = delete;
    ScopedPlatform &operator=(const ScopedPlatform &) = delete;

    ScriptedPlatform &operator*() const { return *m_platform; }
    ScriptedPlatform *operator->() const { return m_platform.get(); }

  private:
    std::shared_ptr<ScriptedPlatform> m_platform;
    std::shared_ptr<IPlatform> m_previous;
};

} // namespace vndtest
