#include "host/ui/helpwindow.h"

#include "host/platform.h"
#include "host/ui/hostwindow.h"
#include "host/ui/producticon.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace vnd
{

namespace
{
QString PagePath(const QString &screenCode)
{
    return QStringLiteral(":/ajuda/%1.html").arg(screenCode.trimmed().toLower());
}

QPointer<HelpWindow> g_help;
} // namespace

QString HelpPage(const QString &screenCode)
{
    if (screenCode.trimmed().isEmpty())
        return {};
    QFile page(PagePath(screenCode));
    if (!page.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(page.readAll());
}

HelpWindow::HelpWindow(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("frmAjuda"));
    setWindowTitle(QStringLiteral("Ajuda"));
    setWindowIcon(ProductIcon());
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setAttribute(Qt::WA_DeleteOnClose);
    txtAjuda = new QTextBrowser(this);
    txtAjuda->setObjectName(QStringLiteral("txtAjuda"));
    txtAjuda->setOpenLinks(true);
    txtAjuda->setSearchPaths({QStringLiteral(":/ajuda")});
    auto *buttons = new QDialogButtonBox(this);
    QPushButton *close = buttons->addButton(QStringLiteral("&Fechar"), QDialogButtonBox::RejectRole);
    close->setDefault(true);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(txtAjuda, 1);
    layout->addWidget(buttons);
    resize(560, 520);
}

bool HelpWindow::ShowPage(const QString &screenCode)
{
    const QString html = HelpPage(screenCode);
    if (html.isEmpty())
        return false;
    m_code = screenCode;
    txtAjuda->setHtml(html);
    const QString title = txtAjuda->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("Ajuda") : QStringLiteral("Ajuda - ") + title);
    return true;
}

HelpWindow *ShowHelp(const QString &screenCode)
{
    if (HelpPage(screenCode).isEmpty()) {
        Platform().Info(
            QStringLiteral("A ajuda da tela %1 não está instalada neste computador.").arg(screenCode));
        return nullptr;
    }
    // Above the screen that asked: a modal dialog keeps input from windows that are not its own.
    QWidget *owner = DialogParent();
    if (g_help && g_help->parentWidget() != owner) {
        g_help->close();
        g_help = nullptr;
    }
    if (!g_help)
        g_help = new HelpWindow(owner);
    g_help->ShowPage(screenCode);
    g_help->show();
    g_help->raise();
    g_help->activateWindow();
    return g_help.data();
}

} // namespace vnd
