#include "ui/dialogs/properties_dlg.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <algorithm>

#include "document/swf_document.h"
#include "document/swf_res.h"
#include "document/symbol_names.h"
#include "ui/controls/control_library.h"

namespace kestrel {

std::map<int, QString> KSPropertiesDlg::texts(const SWFRes& resource) {
    std::map<int, QString> t;
    const QString format = QString::fromStdString(resource.formatName);
    t[kType] = QString::fromStdString(resource.detailText);
    t[kFrame] = QString::fromStdString(resource.frameText);
    t[kDimension] = QString::fromStdString(resource.sizeText);
    if (resource.kind == kKindImage) {
        const auto& image = static_cast<const SWFImage&>(resource);
        t[kTitle] = QStringLiteral("Image #%1").arg(resource.number);
        const bool alpha = image.payload && image.payload->hasAlpha();
        t[kEncoding] = image.isJpeg && alpha ? format + QStringLiteral(" + Alpha") : format;
        std::int64_t kilobytes = 1;
        if (image.payload) {
            const std::int64_t bytes = std::int64_t(OBPicture::bytesPerPixel(image.payload->format())) *
                                       image.payload->width() * image.payload->height();
            kilobytes = std::max<std::int64_t>(bytes / 1024, 1);
        }
        t[kSize] = QStringLiteral("%1 bytes (%2 KB uncompressed)").arg(resource.memorySize).arg(kilobytes);
    } else if (resource.kind == kKindVideo) {
        const auto& video = static_cast<const SWFVideo&>(resource);
        t[kTitle] = QStringLiteral("Video #%1").arg(resource.number);
        t[kEncoding] = format + QStringLiteral(" (") + QString::fromStdString(video.codecText()) + QLatin1Char(')');
        t[kSize] = QStringLiteral("%1 bytes").arg(resource.memorySize);
        t[kDimension] = QStringLiteral("%1 \u00D7 %2, %3 (%4 ms)")
                            .arg(video.payload->width)
                            .arg(video.payload->height)
                            .arg(QString::fromStdString(resource.sizeText))
                            .arg(video.durationMs);
    } else {
        const auto& sound = static_cast<const SWFSound&>(resource);
        t[kTitle] = QStringLiteral("Sound #%1").arg(resource.number);
        t[kEncoding] = format;
        t[kSize] = QStringLiteral("%1 bytes").arg(resource.memorySize);
        if (sound.durationMs > 999)
            t[kDimension] = QStringLiteral("%1 (%2 ms exactly)").arg(t[kDimension]).arg(sound.durationMs);
    }
    if (!resource.container.empty()) t[kOrigin] = QString::fromStdString(resource.container);
    if (!resource.names.empty()) {
        QStringList names;
        for (const std::string& name : resource.names) names << QString::fromStdString(nameText(name));
        t[kNames] = names.join(QStringLiteral("; "));
    }
    if (!resource.problems.empty()) {
        QStringList lines;
        for (const Problem& p : resource.problems) lines << QString::fromStdString(problemText(p));
        t[kProblems] = lines.join(QStringLiteral("; "));
    }
    return t;
}

KSPropertiesDlg::KSPropertiesDlg(const SWFRes& resource, QWidget* parent) : OBCDialog(parent) {
    setWindowTitle(QStringLiteral("Resource Properties"));
    QFont font(QStringLiteral("MS Sans Serif"), 8);
    font.setStyleHint(QFont::SansSerif);
    setFont(ControlLibrary::options().dialogFont ? ControlLibrary::uiFont() : font);
    const DialogUnits du(this->font());
    auto place = [&du](QWidget* w, double x, double y, double width, double height) {
        w->setGeometry(du.x(x), du.y(y), du.x(width), du.y(height));
    };
    auto makeField = [this](int id) {
        auto* edit = new QLineEdit(this);
        edit->setReadOnly(true);
        edit->setObjectName(QStringLiteral("field%1").arg(id));
        fields_[id] = edit;
        return edit;
    };

    auto* icon = new QLabel(this);
    icon->setPixmap(artwork::programIcon().pixmap(QSize(32, 32), devicePixelRatioF()));
    place(icon, 7, 7, 21, 20);
    place(makeField(kTitle), 36, 11, 164, 12);
    auto* line1 = new QFrame(this);
    line1->setFrameShape(QFrame::HLine);
    line1->setFrameShadow(QFrame::Sunken);
    place(line1, 7, 33, 193, 2);

    const struct {
        int id;
        const char* label;
    } rows[] = {{kEncoding, "Encoding:"},   {kType, "Type:"},   {kFrame, "Frame:"},   {kSize, "Size:"},
                {kDimension, "Dimension:"}, {kNames, "Names:"}, {kOrigin, "Origin:"}, {kProblems, "Problems:"}};
    // The names, origin and problems rows only for a resource that has
    // names, comes from DefineBinaryData or has problems.
    const bool hasNames = !resource.names.empty();
    const bool hasOrigin = !resource.container.empty();
    const bool hasProblems = !resource.problems.empty();
    const double extra = 14 * (int(hasNames) + int(hasOrigin) + int(hasProblems));
    double y = 41;
    for (const auto& row : rows) {
        if ((row.id == kProblems && !hasProblems) || (row.id == kNames && !hasNames) ||
            (row.id == kOrigin && !hasOrigin))
            continue;
        auto* label = new QLabel(QString::fromLatin1(row.label), this);
        place(label, 7, y + 2, 50, 9);
        place(makeField(row.id), 60, y, 140, 12);
        y += 14;
    }
    auto* line2 = new QFrame(this);
    line2->setFrameShape(QFrame::HLine);
    line2->setFrameShadow(QFrame::Sunken);
    place(line2, 7, 114 + extra, 193, 2);

    auto* close = new QPushButton(QStringLiteral("&Close"), this);
    close->setDefault(true);
    place(close, 150, 124 + extra, 50, 14);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);

    for (const auto& [id, text] : texts(resource)) {
        fields_[id]->setText(text);
        fields_[id]->setCursorPosition(0);
        fields_[id]->setToolTip(id == kProblems ? text : QString());
    }
    if (hasNames) {
        QStringList lines;
        for (const std::string& name : resource.names) lines << QString::fromStdString(nameText(name));
        fields_[kNames]->setToolTip(lines.join(QLatin1Char('\n')));
    }
    applyLibraryFont();
    setFixedSize(du.x(207), du.y(145 + extra));
    fitFieldsToTexts();
    close->setFocus();
}

void KSPropertiesDlg::fitFieldsToTexts() {
    int extra = 0;
    for (const auto& [id, edit] : fields_) {
        // The line edit's frame and its own text margins.
        const int needed = edit->fontMetrics().horizontalAdvance(edit->text()) + 12;
        extra = std::max(extra, needed - edit->width());
    }
    // A name or problem may run to thousands of characters: the dialog
    // grows no wider than about three times its width; the rest scrolls.
    extra = std::min(extra, 2 * width());
    if (extra <= 0) return;
    // Everything right of the fields' left edges moves or grows with them.
    const int fieldsLeft = std::min_element(fields_.begin(), fields_.end(), [](const auto& a, const auto& b) {
                               return a.second->x() < b.second->x();
                           })->second->x();
    for (QWidget* child : findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<QLineEdit*>(child) || (qobject_cast<QFrame*>(child) && !qobject_cast<QLabel*>(child)))
            child->resize(child->width() + extra, child->height());
        else if (child->x() > fieldsLeft)
            child->move(child->x() + extra, child->y());
    }
    setFixedSize(width() + extra, height());
}

QLineEdit* KSPropertiesDlg::field(int id) const {
    const auto it = fields_.find(id);
    return it == fields_.end() ? nullptr : it->second;
}

QString KSPropertiesDlg::fieldText(int id) const {
    const QLineEdit* edit = field(id);
    return edit ? edit->text() : QString();
}

}  // namespace kestrel
