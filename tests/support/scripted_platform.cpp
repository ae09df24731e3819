#include "tests/support/scripted_platform.h"

#include <QDialog>
#include <gtest/gtest.h>

namespace vndtest
{

namespace
{
const char *KindName(int kind)
{
    static const char *const names[] = {"pergunta", "info", "erro", "pasta", "escolha", "tela modal", "arquivo"};
    return names[kind];
}

std::string Utf8(const QString &text)
{
    return text.toStdString();
}
} // namespace

ScriptedPlatform &ScriptedPlatform::ExpectQuestion(const QString &text, bool answer, Match match)
{
    m_queue.push_back({Kind::Question, text, match, answer, {}, {}});
    return *this;
}

ScriptedPlatform &ScriptedPlatform::ExpectInfo(const QString &text, Match match)
{
    m_queue.push_back({Kind::Info, text, match, true, {}, {}});
    return *this;
}

ScriptedPlatform &ScriptedPlatform::ExpectError(const QString &text, Match match)
{
    m_queue.push_back({Kind::Error, text, match, true, {}, {}});
    return *this;
}

ScriptedPlatform &ScriptedPlatform::ExpectFolder(const QString &path)
{
    m_queue.push_back({Kind::Folder, path, Match::Exact, true, {}, {}});
    return *this;
}

ScriptedPlatform &ScriptedPlatform::ExpectFolderCancel()
{
    m_queue.push_back({Kind::Folder, {}, Match::Exact, false, {}, {}});
    return *this;
}

ScriptedPlatform &ScriptedPlatform::CancelBusyAfter(int progressTexts)
{
    m_cancelAfter = progressTexts;
    return *this;
}

bool ScriptedPlatform::BusyCancelRequested()
{
    return m_busyVisible && m_cancelAfter >= 0 && m_progressSinceShow >= m_cancelAfter;
}

ScriptedPlatform &ScriptedPlatform::ExpectSaveFile(const QString &path)
{
    m_queue.push_back({Kind::SaveFile, path, Match::Exact, true, {}, {}});
    return *this;
}

QString ScriptedPlatform::SaveFileName(const QString &caption, const QString &purpose, const QString &suggested,
                                       const QString &)
{
    m_lastSave = purpose + QLatin1Char('|') + suggested;
    const auto e = Take(Kind::SaveFile, caption);
    return e && e->answer ? e->text : QString();
}

ScriptedPlatform &ScriptedPlatform::ExpectPick(std::vector<int> rows)
{
    m_queue.push_back({Kind::Pick, {}, Match::Exact, true, std::move(rows), {}});
    return *this;
}

ScriptedPlatform &ScriptedPlatform::ExpectPickCancel()
{
    m_queue.push_back({Kind::Pick, {}, Match::Exact, false, {}, {}});
    return *this;
}

ScriptedPlatform &ScriptedPlatform::ExpectModal(const QString &className, std::function<void(QDialog &)> act)
{
    m_queue.push_back({Kind::Modal, className, Match::Exact, true, {}, std::move(act)});
    return *this;
}

QStringList ScriptedPlatform::Pending() const
{
    QStringList pending;
    for (const Expectation &e : m_queue)
        pending << QStringLiteral("%1 '%2'").arg(QString::fromLatin1(KindName(int(e.kind))), e.text);
    return pending;
}

std::unique_ptr<ScriptedPlatform::Expectation> ScriptedPlatform::Take(Kind kind, const QString &text)
{
    const QString seen = QStringLiteral("%1 '%2'").arg(QString::fromLatin1(KindName(int(kind))), text);
    if (m_queue.empty()) {
        ADD_FAILURE() << "diálogo inesperado: " << Utf8(seen);
        return nullptr;
    }
    const Expectation &next = m_queue.front();
    bool matches = next.kind == kind;
    // Texts are compared for messages and modal screens; folders and choices carry answers only.
    if (matches &&
        (kind == Kind::Question || kind == Kind::Info || kind == Kind::Error || kind == Kind::Modal))
        matches = next.match == Match::Exact ? next.text == text : text.contains(next.text);
    if (!matches) {
        ADD_FAILURE() << "diálogo inesperado: " << Utf8(seen) << "; esperado: " << KindName(int(next.kind))
                      << " '" << Utf8(next.text) << "'";
        return nullptr;
    }
    auto taken = std::make_unique<Expectation>(std::move(m_queue.front()));
    m_queue.pop_front();
    return taken;
}

bool ScriptedPlatform::AskYesNo(const QString &text)
{
    m_seen << QStringLiteral("pergunta: ") + text;
    const auto e = Take(Kind::Question, text);
    return e && e->answer;
}

void ScriptedPlatform::Info(const QString &text)
{
    m_seen << QStringLiteral("info: ") + text;
    Take(Kind::Info, text);
}

void ScriptedPlatform::Error(const QString &text)
{
    m_seen << QStringLiteral("erro: ") + text;
    Take(Kind::Error, text);
}

bool ScriptedPlatform::SelectFolder(const QString &caption, QString &folder)
{
    const auto e = Take(Kind::Folder, caption);
    if (!e || !e->answer)
        return false;
    folder = e->text;
    return true;
}

void ScriptedPlatform::SetHourglass(bool on)
{
    if (on)
        ++m_hourglass;
    else if (m_hourglass > 0)
        --m_hourglass;
}

void ScriptedPlatform::BusyShow()
{
    ++m_busyShows;
    m_busyVisible = true;
    m_progressSinceShow = 0;
}

void ScriptedPlatform::BusyProgress(const QString &text)
{
    m_busyTexts << text;
    ++m_progressSinceShow;
}

void ScriptedPlatform::BusyHide()
{
    // A cancellation answers one busy section.
    if (m_busyVisible && BusyCancelRequested())
        m_cancelAfter = -1;
    m_busyVisible = false;
}

bool ScriptedPlatform::ChooseRows(const QString &title, TClientDataSet &, bool multiple,
                                  std::vector<int> &rows)
{
    m_lastPickTitle = title;
    m_lastPickPreselected = rows;
    const auto e = Take(Kind::Pick, title);
    if (!e || !e->answer)
        return false;
    if (!multiple && e->rows.size() != 1)
        ADD_FAILURE() << "escolha simples '" << Utf8(title) << "' respondida com " << e->rows.size()
                      << " linhas";
    rows = e->rows;
    return true;
}

int ScriptedPlatform::RunModal(QDialog &dialog)
{
    // The expected name may be the object name or any class the screen derives from.
    QString name = QString::fromLatin1(dialog.metaObject()->className());
    const QString wanted = m_queue.empty() ? QString() : m_queue.front().text;
    for (const QMetaObject *m = dialog.metaObject(); m; m = m->superClass())
        if (wanted == QLatin1String(m->className()))
            name = wanted;
    if (!dialog.objectName().isEmpty() && dialog.objectName() == wanted)
        name = wanted;
    const auto e = Take(Kind::Modal, name);
    if (!e)
        return QDialog::Rejected;
    dialog.setResult(QDialog::Rejected);
    dialog.show();
    if (e->act)
        e->act(dialog);
    if (dialog.isVisible())
        dialog.reject();
    return dialog.result();
}

ScopedPlatform::ScopedPlatform() : m_platform(std::make_shared<ScriptedPlatform>())
{
    m_previous = SetPlatform(m_platform);
}

ScopedPlatform::~ScopedPlatform()
{
    const QStringList pending = m_platform->Pending();
    if (!pending.isEmpty())
        ADD_FAILURE() << "diálogos esperados que não apareceram: "
                      << Utf8(pending.join(QStringLiteral(", ")));
    SetPlatform(m_previous);
}

} // namespace vndtest
