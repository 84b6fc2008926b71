#include "ui/dialogs/file_exists_dlg.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

#include "document/extract.h"
#include "ui/controls/texts.h"

namespace kestrel {

KSFileAlreadyExistsDlg::KSFileAlreadyExistsDlg(const QString& path, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(text::kAppTitle));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);

    text_ = new QLabel(QString::fromLatin1(text::kFileExists).replace(QStringLiteral("%s"), path), this);
    text_->setObjectName(QStringLiteral("text"));
    text_->setTextFormat(Qt::PlainText);

    auto* row = new QHBoxLayout;
    row->addStretch(1);
    const struct {
        Result result;
        const char* label;
    } kinds[] = {{Yes, "&Yes"}, {All, "&All"}, {No, "&No"}, {NoToAll, "N&o to All"}, {Cancel, "Cancel"}};
    for (const auto& kind : kinds) {
        auto* button = new QPushButton(QString::fromLatin1(kind.label), this);
        button->setAutoDefault(false);
        const Result result = kind.result;
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        buttons_[kind.result - Yes] = button;
        row->addWidget(button);
    }
    buttons_[0]->setDefault(true);
    buttons_[0]->setFocus();

    // A question, and it looks like one.
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    icon->setAlignment(Qt::AlignTop);
    auto* top = new QHBoxLayout;
    top->addWidget(icon);
    top->addSpacing(8);
    top->addWidget(text_, 1);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(row);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString KSFileAlreadyExistsDlg::text() const { return text_->text(); }

QPushButton* KSFileAlreadyExistsDlg::button(Result result) const {
    return result >= Yes && result <= NoToAll ? buttons_[result - Yes] : nullptr;
}

void KSFileAlreadyExistsDlg::reject() { done(Cancel); }

}  // namespace kestrel
