#include "host/ui/controls.h"

#include "host/platform.h"
#include "host/ui/datasource.h"
#include "host/ui/handlers.h"
#include "host/ui/uiplatform.h"

#include <QIcon>
#include <QLineEdit>
#include <QStyle>

TButtonFlat::TButtonFlat(QWidget *parent, const QString &caption, const QString &hint) : QToolButton(parent)
{
    setAutoRaise(true);
    setFocusPolicy(Qt::TabFocus);
    setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    setText(caption);
    SetHint(hint);
}

void TButtonFlat::SetHint(const QString &hint)
{
    setToolTip(hint);
    setStatusTip(hint);
}

void TButtonFlat::SetGlyph(const QString &themeName, int standardPixmap)
{
    const QIcon fallback = style()->standardIcon(QStyle::StandardPixmap(standardPixmap), nullptr, this);
    setIcon(QIcon::fromTheme(themeName, fallback));
    setIconSize(QSize(24, 24));
}

TBtnPesquisa::TBtnPesquisa(QWidget *parent) : TButtonFlat(parent, {}, QStringLiteral("Pesquisar"))
{
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    SetGlyph(QStringLiteral("edit-find"), QStyle::SP_FileDialogContentsView);
    setIconSize(QSize(16, 16));
    vnd::Connect(this, &QToolButton::clicked, this, [this] { Pesquisa(); });
}

void TBtnPesquisa::Pesquisa()
{
    bool proceed = true;
    if (OnBeforePesq)
        OnBeforePesq(this, proceed);
    if (!proceed)
        return;
    TClientDataSet *data = DataSource ? DataSource->DataSet() : nullptr;
    if (!data || !data->Active() || data->IsEmpty())
        MensErro(EmptyError.isEmpty() ? QStringLiteral("Nenhum registro encontrado.") : EmptyError);
    std::vector<int> rows;
    if (data->RecNo() >= 0)
        rows.push_back(data->RecNo());
    if (!vnd::ChooseRows(Title.isEmpty() ? QStringLiteral("Pesquisa") : Title, *data, false, rows) ||
        rows.empty())
        return;
    data->SetRecNo(rows.front());
    if (OnAfterPesq)
        OnAfterPesq(this);
    if (Edit)
        Edit->setFocus();
}

void SetChildEnabled(QWidget *control, bool enabled)
{
    if (!control)
        return;
    for (QWidget *child : control->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        child->setEnabled(enabled);
}

namespace vnd
{
QString Mnemonic(const QString &text, QChar letter)
{
    if (text.contains(QLatin1Char('&')))
        return text;
    const qsizetype at = text.indexOf(letter, 0, Qt::CaseInsensitive);
    if (at < 0)
        return text;
    QString marked = text;
    marked.insert(at, QLatin1Char('&'));
    return marked;
}
} // namespace vnd
