#include "ui/controls/message_box.h"

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTextLayout>
#include <QUrl>
#include <algorithm>
#include <cmath>

#include "ui/controls/control_library.h"

namespace kestrel {

namespace {

OBCMessageBox::Hook& theHook() {
    static OBCMessageBox::Hook hook;
    return hook;
}

QTextDocument* makeDocument(const QString& text, const QFont& font, QObject* parent) {
    auto* doc = new QTextDocument(parent);
    doc->setDefaultFont(font);
    doc->setDocumentMargin(0);
    doc->setPlainText(text);
    return doc;
}

}  // namespace

MessageBoxRequest describeMessageBox(const QString& text, const QString& caption, unsigned type) {
    MessageBoxRequest r;
    r.text = text;
    r.caption = caption;
    r.type = type;
    switch (type & 0xF) {
        case kMbOk:
            r.buttons = {{kIdOk, QStringLiteral("OK")}};
            r.escapeId = kIdOk;
            break;
        case kMbOkCancel:
            r.buttons = {{kIdOk, QStringLiteral("OK")}, {kIdCancel, QStringLiteral("Cancel")}};
            r.escapeId = kIdCancel;
            break;
        case kMbAbortRetryIgnore:
            r.buttons = {{kIdAbort, QStringLiteral("&Abort")},
                         {kIdRetry, QStringLiteral("&Retry")},
                         {kIdIgnore, QStringLiteral("&Ignore")}};
            break;
        case kMbYesNoCancel:
            r.buttons = {{kIdYes, QStringLiteral("&Yes")},
                         {kIdNo, QStringLiteral("&No")},
                         {kIdCancel, QStringLiteral("Cancel")}};
            r.escapeId = kIdCancel;
            break;
        case kMbYesNo: r.buttons = {{kIdYes, QStringLiteral("&Yes")}, {kIdNo, QStringLiteral("&No")}}; break;
        case kMbRetryCancel:
            r.buttons = {{kIdRetry, QStringLiteral("&Retry")}, {kIdCancel, QStringLiteral("Cancel")}};
            r.escapeId = kIdCancel;
            break;
        default:
            // An unknown set shows a plain OK box.
            r.buttons = {{kIdOk, QStringLiteral("OK")}};
            r.escapeId = kIdOk;
            break;
    }
    const unsigned icon = (type >> 4) & 0xF;
    r.icon = icon >= 1 && icon <= 4 ? int(icon) : 0;
    const unsigned def = (type >> 8) & 0xF;
    r.defaultId = def < r.buttons.size() ? r.buttons[def].id : r.buttons.front().id;
    r.topmost = (type & kMbTopmost) != 0;
    return r;
}

OBCMessageBox::OBCMessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned type)
    : QDialog(owner), request_(describeMessageBox(text, caption, type)) {
    build();
}

void OBCMessageBox::setHook(Hook hook) { theHook() = std::move(hook); }

QPushButton* OBCMessageBox::button(int id) const {
    for (std::size_t i = 0; i < buttons_.size(); ++i)
        if (request_.buttons[i].id == id) return buttons_[i];
    return nullptr;
}

int OBCMessageBox::lineCount(const QString& text, const QFont& font, int width) {
    QTextDocument doc;
    doc.setDefaultFont(font);
    doc.setDocumentMargin(0);
    doc.setPlainText(text);
    doc.setTextWidth(std::max(width, 1));
    doc.size();  // lays the text out
    int lines = 0;
    for (QTextBlock block = doc.begin(); block.isValid(); block = block.next())
        lines += block.layout() ? block.layout()->lineCount() : 1;
    return lines;
}

int OBCMessageBox::narrowestWidth(const QString& text, const QFont& font, int fullWidth) {
    const int target = lineCount(text, font, fullWidth);
    int low = 0;
    int high = fullWidth;
    while (low < high) {
        const int middle = (low + high) / 2;
        if (lineCount(text, font, middle) <= target)
            high = middle;
        else
            low = middle + 1;
    }
    return high;
}

void OBCMessageBox::build() {
    setWindowTitle(request_.caption);
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                            Qt::MSWindowsFixedSizeDialogHint;
    // Without a cancelling button there is no close box.
    if (request_.escapeId != 0) flags |= Qt::WindowCloseButtonHint | Qt::WindowSystemMenuHint;
    if (request_.topmost) flags |= Qt::WindowStaysOnTopHint;
    setWindowFlags(flags);
    setModal(true);

    const QFont font = ControlLibrary::uiFont();
    setFont(font);
    const DialogUnits du(font);
    const int marginX = du.x(7);
    const int marginY = du.y(7);

    // Icon.
    int iconSize = 0;
    if (request_.icon != 0) {
        QStyle::StandardPixmap which = QStyle::SP_MessageBoxInformation;
        switch (request_.icon) {
            case 1: which = QStyle::SP_MessageBoxCritical; break;
            case 2: which = QStyle::SP_MessageBoxQuestion; break;
            case 3: which = QStyle::SP_MessageBoxWarning; break;
            default: break;
        }
        iconSize = style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, this);
        iconLabel_ = new QLabel(this);
        iconLabel_->setPixmap(style()->standardIcon(which, nullptr, this).pixmap(iconSize, iconSize));
        iconLabel_->setGeometry(marginX, marginY, iconSize, iconSize);
    }

    // Text: the narrowest width that needs no more lines than the full
    // screen width.
    const QScreen* screen = parentWidget() ? parentWidget()->screen() : QApplication::primaryScreen();
    const int fullWidth = screen ? screen->geometry().width() : 1024;
    textWidth_ = narrowestWidth(request_.text, font, fullWidth);
    QTextDocument* measure = makeDocument(request_.text, font, this);
    measure->setTextWidth(std::max(textWidth_, 1));
    const int textHeight = int(std::ceil(measure->size().height()));
    delete measure;

    const int textLeft = iconSize > 0 ? marginX + iconSize + du.x(10) : marginX;
    const int blockHeight = std::max(textHeight, iconSize);
    const int textTop = marginY + (blockHeight - textHeight) / 2;
    text_ = new QTextEdit(this);
    text_->setReadOnly(true);
    text_->setFrameShape(QFrame::NoFrame);
    text_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text_->setFocusPolicy(Qt::NoFocus);
    text_->document()->setDocumentMargin(0);
    text_->setFont(font);
    text_->setPlainText(request_.text);
    QPalette palette = text_->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    text_->setPalette(palette);
    text_->setGeometry(textLeft, textTop, std::max(textWidth_, 1) + 2, textHeight + 2);

    // Buttons: one width for all, one row, centred.
    const QFontMetrics metrics(font);
    int widest = 0;
    for (const auto& b : request_.buttons)
        widest = std::max(widest, metrics.horizontalAdvance(QString(b.text).remove('&')));
    const int buttonWidth = std::max(widest, du.x(40)) + 2 * du.x(5);
    const int buttonHeight = metrics.height() + 2 * du.y(3) + 2;
    const int gap = du.x(4);
    const int rowWidth = int(request_.buttons.size()) * buttonWidth + (int(request_.buttons.size()) - 1) * gap;
    const int contentWidth = std::max(textLeft + textWidth_ + 2, marginX + rowWidth) + marginX;
    const int buttonTop = marginY + blockHeight + du.y(11);
    int x = (contentWidth - rowWidth) / 2;
    for (const auto& b : request_.buttons) {
        auto* button = new QPushButton(b.text, this);
        button->setGeometry(x, buttonTop, buttonWidth, buttonHeight);
        button->setAutoDefault(true);
        const int id = b.id;
        connect(button, &QPushButton::clicked, this, [this, id] { done(id); });
        buttons_.push_back(button);
        x += buttonWidth + gap;
    }
    if (QPushButton* def = button(request_.defaultId)) {
        def->setDefault(true);
        def->setFocus();
    }
    setFixedSize(contentWidth, buttonTop + buttonHeight + marginY);
}

void OBCMessageBox::showEvent(QShowEvent* event) {
    // The dialog is centred on its owner by QDialog itself.
    QDialog::showEvent(event);
    if (QPushButton* def = button(request_.defaultId)) def->setFocus();
}

void OBCMessageBox::reject() {
    if (request_.escapeId != 0) done(request_.escapeId);
}

void OBCMessageBox::closeEvent(QCloseEvent* event) {
    if (request_.escapeId == 0) {
        event->ignore();
        return;
    }
    event->accept();
    done(request_.escapeId);
}

int OBCMessageBox::exec() {
    const CursorLift lift;
    return QDialog::exec();
}

int OBCMessageBox::run(QWidget* owner, const QString& text, const QString& caption, unsigned type) {
    const CursorLift lift;
    if (theHook()) return theHook()(describeMessageBox(text, caption, type));
    OBCMessageBox box(owner, text, caption, type);
    return box.exec();
}

int showMessage(QWidget* owner, const QString& text, unsigned type) {
    if (((type >> 4) & 0xF) == 0) {
        switch (type & 0xF) {
            case kMbOk:
            case kMbOkCancel:
            case kMbYesNoCancel:
            case kMbYesNo: type |= kMbIconExclamation; break;
            default: break;
        }
    }
    if (!owner) owner = QApplication::activeWindow();
    return OBCMessageBox::run(owner, text, QStringLiteral("Kestrel"), type);
}

MessageAnswer MessageBoxSink::show(const std::string& text, MessageIcon icon, MessageButtons buttons) {
    unsigned type = icon == MessageIcon::Error ? kMbIconStop : kMbIconExclamation;
    type |= buttons == MessageButtons::YesNo ? kMbYesNo : kMbOk;
    const int answer = showMessage(owner_, QString::fromStdString(text), type);
    if (buttons == MessageButtons::YesNo) return answer == kIdYes ? MessageAnswer::Yes : MessageAnswer::No;
    return MessageAnswer::Ok;
}

bool openOnDesktop(QWidget* owner, const QString& path) {
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(path))) return true;
    showMessage(owner, QStringLiteral("No application could open\n%1").arg(path), kMbOk | kMbIconExclamation);
    return false;
}

}  // namespace kestrel
