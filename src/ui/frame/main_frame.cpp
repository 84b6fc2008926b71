#include "ui/frame/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <algorithm>

#include "document/swf_document.h"
#include "ui/controls/control_library.h"
#include "ui/controls/status_bar.h"
#include "ui/controls/texts.h"
#include "ui/controls/wnd_placement.h"
#include "ui/frame/commands.h"
#include "ui/list/child_view.h"
#include "ui/list/list_ctrl.h"
#include "ui/list/main_view.h"

namespace kestrel {

namespace {

const QString kSettingsKey = QStringLiteral("Settings");
constexpr int kDescriptionPane = 1;

}  // namespace

KSMainFrame::KSMainFrame(FrameHost* app) : app_(app) {
    setWindowTitle(QString::fromLatin1(text::kAppTitle));
    setWindowIcon(artwork::programIcon());
    resize(710, 520);

    createMenus();
    createToolBar();
    createStatusBar();
    mainView_ = new KSMainView(this, this, this);
    mainView_->setObjectName(QStringLiteral("mainView"));
    setCentralWidget(mainView_);

    if (!app_->statusBarShown()) statusBar_->hide();
    if (!app_->toolbarShown()) toolBar_->hide();
    setFocusProxy(mainView_);

    updateRecentMenu();
    updateStatusTexts();
    updateCommandUI();
}

KSMainFrame::~KSMainFrame() {
    // The list's view mode and sort key outlive the window.
    if (const KSChildView* child = childView()) app_->setListState(child->viewMode(), child->sortKey());
}

void KSMainFrame::addRecentFile(const QString& path) {
    app_->addRecentFile(path);
    updateRecentMenu();
}

int KSMainFrame::initialViewMode() const { return app_->listViewMode(); }
int KSMainFrame::initialSortKey() const { return app_->listSortKey(); }
WriteOptions KSMainFrame::extractOptions() const { return app_->extractOptions(); }
void KSMainFrame::setExtractOptions(const WriteOptions& options) { app_->setExtractOptions(options); }

KSChildView* KSMainFrame::childView() const { return mainView_ ? mainView_->childView() : nullptr; }
KSPictView* KSMainFrame::pictView() const { return mainView_ ? mainView_->pictView() : nullptr; }
SWFDocument* KSMainFrame::document() const { return childView() ? childView()->document() : nullptr; }
KSListCtrl* KSMainFrame::listCtrl() const { return childView() ? childView()->listCtrl() : nullptr; }

const SWFDocument* KSMainFrame::panelDocument() const { return document(); }
QString KSMainFrame::panelPath() const { return childView() ? childView()->path() : QString(); }
int KSMainFrame::panelItemCount() const { return listCtrl() ? listCtrl()->itemCount() : 0; }
int KSMainFrame::panelFocusedItem() const { return listCtrl() ? listCtrl()->focusedItem() : -1; }
const QPixmap* KSMainFrame::panelSmallIcon(int index) const {
    return listCtrl() ? listCtrl()->smallIcon(index) : nullptr;
}
const QPixmap* KSMainFrame::panelLargeIcon(int index) const {
    return listCtrl() ? listCtrl()->largeIcon(index) : nullptr;
}
void KSMainFrame::panelPlay() { onCommand(kCmdView); }

QAction* KSMainFrame::action(int id) const {
    const auto it = actions_.find(id);
    return it == actions_.end() ? nullptr : it->second;
}

QAction* KSMainFrame::makeAction(int id, const QString& label, const QList<QKeySequence>& keys) {
    auto* a = new QAction(label, this);
    a->setData(id);
    a->setStatusTip(commandStatusText(id));
    const QString tip = commandTooltip(id);
    if (!tip.isEmpty()) a->setToolTip(tip);
    if (!keys.isEmpty()) a->setShortcuts(keys);
    connect(a, &QAction::triggered, this, [this, id] { onCommand(id); });
    actions_[id] = a;
    return a;
}

void KSMainFrame::createMenus() {
    QMenuBar* bar = menuBar();

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->addAction(makeAction(kCmdOpen, commandLabel(kCmdOpen), {QKeySequence(Qt::CTRL | Qt::Key_O)}));
    file->addAction(makeAction(kCmdOpenInternetCache, commandLabel(kCmdOpenInternetCache)));
    file->addAction(makeAction(kCmdCloseSwf, commandLabel(kCmdCloseSwf), {QKeySequence(Qt::CTRL | Qt::Key_F4)}));
    file->addSeparator();
    file->addAction(makeAction(kCmdLaunchSwf, commandLabel(kCmdLaunchSwf)));
    file->addSeparator();
    recentPlaceholder_ = new QAction(QString::fromLatin1(text::kRecentPlaceholder), this);
    recentPlaceholder_->setEnabled(false);
    file->addAction(recentPlaceholder_);
    for (int i = 0; i < app_->recentFileCapacity(); ++i) {
        const int id = kCmdRecentFirst + i;
        QAction* a = makeAction(id, QString());
        a->setVisible(false);
        file->addAction(a);
        recentActions_.push_back(a);
    }
    file->addSeparator();
    file->addAction(makeAction(kCmdExit, commandLabel(kCmdExit), {QKeySequence(Qt::ALT | Qt::Key_F4)}));

    QMenu* actionsMenu = bar->addMenu(QStringLiteral("&Actions"));
    actionsMenu->addAction(makeAction(kCmdExtract, commandLabel(kCmdExtract), {QKeySequence(Qt::CTRL | Qt::Key_E)}));
    // Enter means both Return and the keypad's Enter.
    actionsMenu->addAction(
        makeAction(kCmdView, commandLabel(kCmdView), {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}));
    actionsMenu->addSeparator();
    actionsMenu->addAction(
        makeAction(kCmdSelectAll, commandLabel(kCmdSelectAll), {QKeySequence(Qt::CTRL | Qt::Key_A)}));
    actionsMenu->addAction(makeAction(kCmdInvertSelection, commandLabel(kCmdInvertSelection)));
    actionsMenu->addSeparator();
    actionsMenu->addAction(makeAction(kCmdProperties, commandLabel(kCmdProperties),
                                      {QKeySequence(Qt::ALT | Qt::Key_Return), QKeySequence(Qt::ALT | Qt::Key_Enter)}));

    QMenu* view = bar->addMenu(QStringLiteral("&View"));
    view->addAction(makeAction(kCmdToggleToolbar, commandLabel(kCmdToggleToolbar)));
    view->addAction(makeAction(kCmdToggleStatusBar, commandLabel(kCmdToggleStatusBar)));
    view->addSeparator();
    view->addAction(makeAction(kCmdLargeIcons, commandLabel(kCmdLargeIcons)));
    view->addAction(makeAction(kCmdDetails, commandLabel(kCmdDetails)));
    view->addSeparator();
    QMenu* sort = view->addMenu(QStringLiteral("S&ort"));
    sort->addAction(makeAction(kCmdSortType, commandLabel(kCmdSortType)));
    sort->addAction(makeAction(kCmdSortFrame, commandLabel(kCmdSortFrame)));
    sort->addAction(makeAction(kCmdSortMemory, commandLabel(kCmdSortMemory)));
    sort->addAction(makeAction(kCmdSortDimension, commandLabel(kCmdSortDimension)));

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->addAction(makeAction(kCmdHelpContents, commandLabel(kCmdHelpContents), {QKeySequence(Qt::Key_F1)}));
    help->addSeparator();
    help->addAction(makeAction(kCmdAbout, commandLabel(kCmdAbout)));

    for (int id : {kCmdToggleToolbar, kCmdToggleStatusBar}) action(id)->setCheckable(true);
    // The view modes and the sort orders are radio items; with no file open
    // none is checked.
    for (const std::initializer_list<int> ids :
         {std::initializer_list<int>{kCmdLargeIcons, kCmdDetails},
          std::initializer_list<int>{kCmdSortType, kCmdSortFrame, kCmdSortMemory, kCmdSortDimension}}) {
        auto* group = new QActionGroup(this);
        group->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
        for (int id : ids) {
            action(id)->setCheckable(true);
            group->addAction(action(id));
        }
    }
    for (QMenu* menu : {file, actionsMenu, view, sort, help})
        connect(menu, &QMenu::aboutToShow, this, [this] { updateCommandUI(); });
    connect(file, &QMenu::aboutToShow, this, &KSMainFrame::updateRecentMenu);
}

void KSMainFrame::createToolBar() {
    toolBar_ = new QToolBar(QStringLiteral("Toolbar"), this);
    toolBar_->setObjectName(QStringLiteral("toolBar"));
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    toolBar_->setIconSize(QSize(23, 20));
    toolBar_->setMovable(true);
    toolBar_->setFloatable(false);
    addToolBar(Qt::TopToolBarArea, toolBar_);

    const QImage normal = artwork::loadKeyed(QString::fromLatin1(artwork::kToolbar));
    const QImage doubled = artwork::load(QString::fromLatin1(artwork::kToolbar2x));
    struct Button {
        int id;
        int image;
        const char* text;
    };
    const Button buttons[] = {{kCmdOpen, 0, "Open"},          {kCmdExtract, 1, "Extract"},
                              {kCmdView, 2, "View"},          {kCmdProperties, 3, "Properties"},
                              {kCmdLaunchSwf, 4, "Play SWF"}, {0, 0, nullptr},
                              {kCmdDetails, 5, "Details"},    {kCmdLargeIcons, 6, "Icons"}};
    std::vector<QToolButton*> toolButtons;
    for (const Button& b : buttons) {
        if (!b.text) {
            toolBar_->addSeparator();
            continue;
        }
        QAction* a = action(b.id);
        // Disabled buttons show the style's disabled rendering of the same
        // picture.
        a->setIcon(artwork::cellIcon(normal, doubled, b.image, 23));
        a->setIconText(QString::fromLatin1(b.text));
        toolBar_->addAction(a);
        if (auto* button = qobject_cast<QToolButton*>(toolBar_->widgetForAction(a))) toolButtons.push_back(button);
    }
    // Menu entries keep their icons out of the menus.
    for (const auto& [id, a] : actions_) a->setIconVisibleInMenu(false);

    // Every button takes one size, between 50 and 150 pixels wide.
    QSize size(0, 0);
    for (QToolButton* button : toolButtons) size = size.expandedTo(button->sizeHint());
    size.setWidth(std::clamp(size.width(), 50, 150));
    for (QToolButton* button : toolButtons) button->setFixedSize(size);
}

void KSMainFrame::createStatusBar() {
    const int descriptionWidth = QFontMetrics(font()).horizontalAdvance(QString(93, QLatin1Char(' ')));
    statusBar_ = new OBCStatusBar(this, {descriptionWidth});
    statusBar_->setObjectName(QStringLiteral("statusBar"));
    setStatusBar(statusBar_);
    statusBar_->pane(0)->setIcon(artwork::programIcon().pixmap(QSize(16, 16), devicePixelRatioF()));
    // The description pane mostly shows the movie's path: its file name
    // stays in sight.
    statusBar_->pane(kDescriptionPane)->setElideMode(Qt::ElideMiddle);
}

void KSMainFrame::onCommand(int id) {
    if (KSChildView* child = childView(); child && child->onCommand(id)) {
        updateCommandUI();
        return;
    }
    frameCommand(id);
    updateCommandUI();
}

bool KSMainFrame::frameCommand(int id) {
    if (id >= kCmdRecentFirst && id <= kCmdRecentLast) {
        app_->openRecentFile(id - kCmdRecentFirst);
        return true;
    }
    switch (id) {
        case kCmdExit: close(); return true;
        case kCmdToggleToolbar: toolBar_->setVisible(toolBar_->isHidden()); return true;
        case kCmdToggleStatusBar: statusBar_->setVisible(statusBar_->isHidden()); return true;
        case kCmdHelpContents: app_->helpContents(); return true;
        case kCmdAbout: app_->about(); return true;
        default: return false;
    }
}

CommandState KSMainFrame::commandState(int id) const {
    if (const KSChildView* child = childView()) {
        if (const auto state = child->commandState(id)) return *state;
    }
    if (id >= kCmdRecentFirst && id <= kCmdRecentLast)
        return {id - kCmdRecentFirst < app_->recentFileEntries().size(), false};
    switch (id) {
        case kCmdToggleToolbar: return {true, !toolBar_->isHidden()};
        case kCmdToggleStatusBar: return {true, !statusBar_->isHidden()};
        default: return {true, false};
    }
}

void KSMainFrame::updateCommandUI() {
    for (const auto& [id, a] : actions_) {
        const CommandState state = commandState(id);
        a->setEnabled(state.enabled);
        if (a->isCheckable()) a->setChecked(state.checked);
    }
}

void KSMainFrame::updateRecentMenu() {
    const QStringList& entries = app_->recentFileEntries();
    recentPlaceholder_->setVisible(entries.isEmpty());
    const QFontMetrics metrics(menuBar()->font());
    for (std::size_t i = 0; i < recentActions_.size(); ++i) {
        QAction* a = recentActions_[i];
        if (int(i) < entries.size()) {
            const QString shown = metrics.elidedText(entries[int(i)], Qt::ElideMiddle, 480);
            a->setText(recentFileMenuText(int(i), shown));
            a->setVisible(true);
        } else {
            a->setVisible(false);
        }
    }
}

SWFDocument* KSMainFrame::openFile(const QString& path) {
    KSChildView* child = childView();
    SWFDocument* doc = child ? child->open(path) : nullptr;
    updateCommandUI();
    return doc;
}

void KSMainFrame::updateTitle() {
    const QString title = QString::fromLatin1(text::kAppTitle);
    const KSChildView* child = childView();
    if (!child || !child->document()) {
        setWindowTitle(title);
        return;
    }
    // "[*]" is the title's modification mark; doubled it shows as itself.
    QString path = child->path();
    path.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    setWindowTitle(title + QStringLiteral(" - ") + path);
}

void KSMainFrame::showResult(const QString& text) {
    statusBar_->clearPrompt();
    setPaneText(0, text);
    showingResult_ = true;
}

void KSMainFrame::updateStatusTexts() {
    showingResult_ = false;
    const KSChildView* child = childView();
    SWFDocument* doc = document();
    if (!child || !doc) {
        setPaneText(0, QString::fromLatin1(text::kNone));
        return;
    }
    const KSListCtrl* list = child->listCtrl();
    const std::vector<int> selected = list->selectedIndices();
    const int s = int(selected.size());
    if (s > 0) {
        setPaneText(0,
                    QString::fromLatin1(text::kResourcesSelected).arg(s).arg(s > 1 ? QStringLiteral("s") : QString()));
        if (s == 1 && selected.front() < doc->count())
            setDescription(QString::fromStdString(doc->resource(selected.front()).description));
        else
            setDescription(child->path());
        return;
    }
    const int n = list->itemCount();
    setPaneText(0, n == 0 ? QString::fromLatin1(text::kNoResource)
                          : QString::fromLatin1(text::kResources).arg(n).arg(n > 1 ? QStringLiteral("s") : QString()));
    setDescription(child->path());
}

void KSMainFrame::setPaneText(int index, const QString& text) { statusBar_->setPaneText(index, text); }

void KSMainFrame::setDescription(const QString& text) { statusBar_->setPaneText(kDescriptionPane, text); }

QString KSMainFrame::chooseDroppedFile(const QStringList& names) {
    QString candidate;
    for (const QString& name : names) {
        candidate = name;
        const int dot = name.lastIndexOf(QLatin1Char('.'));
        if (dot >= 0 && name.mid(dot).compare(QStringLiteral(".swf"), Qt::CaseInsensitive) == 0) break;
    }
    return candidate;
}

void KSMainFrame::dropFiles(const QStringList& names) {
    const QString chosen = chooseDroppedFile(names);
    if (chosen.isEmpty()) return;
    // The file is opened once the drop has returned to its source.
    QMetaObject::invokeMethod(
        this,
        [this, chosen] {
            raise();
            activateWindow();
            openFile(chosen);
        },
        Qt::QueuedConnection);
}

bool KSMainFrame::event(QEvent* event) {
    if (event->type() == QEvent::StatusTip) {
        const QString tip = static_cast<QStatusTipEvent*>(event)->tip();
        if (tip.isEmpty()) {
            statusBar_->clearPrompt();
        } else {
            // A result lasts until the next prompt; the counts come back after.
            if (showingResult_ && !statusBar_->showingPrompt()) updateStatusTexts();
            statusBar_->showPrompt(tip);
        }
        return true;
    }
    return QMainWindow::event(event);
}

void KSMainFrame::closeEvent(QCloseEvent* event) {
    // A file being read cannot be closed under the reader.
    if (KSChildView* child = childView(); child && child->busy()) {
        event->ignore();
        return;
    }
    OBWndPlacement().save(kSettingsKey, this);
    app_->setBarsShown(!toolBar_->isHidden(), !statusBar_->isHidden());
    onCommand(kCmdCloseSwf);
    event->accept();
}

namespace {

QStringList localFiles(const QMimeData* mime) {
    QStringList names;
    if (!mime || !mime->hasUrls()) return names;
    for (const QUrl& url : mime->urls())
        if (url.isLocalFile()) names.append(url.toLocalFile());
    return names;
}

}  // namespace

// Resources dragged out of the list are refused anywhere in the window:
// asking for their files would write them, and opening one would close the
// document in the middle of the drag. A drag from this program has a
// source; one from another program has none.
void KSMainFrame::acceptFileDrag(QDropEvent* event) {
    if (event->source()) {
        event->ignore();
        return;
    }
    if (!localFiles(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void KSMainFrame::dragEnterEvent(QDragEnterEvent* event) { acceptFileDrag(event); }

void KSMainFrame::dragMoveEvent(QDragMoveEvent* event) { acceptFileDrag(event); }

void KSMainFrame::dropEvent(QDropEvent* event) {
    if (event->source()) {
        event->ignore();
        return;
    }
    const QStringList names = localFiles(event->mimeData());
    const KSChildView* child = childView();
    if (names.isEmpty() || (child && child->busy())) return;
    event->acceptProposedAction();
    dropFiles(names);
}

}  // namespace kestrel
