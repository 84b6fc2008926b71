// The main window: menus, accelerators, toolbar, status bar, title, file
// drops and the close sequence. Every command goes to the list pane first.
#pragma once

#include <QMainWindow>
#include <QPointer>
#include <map>
#include <vector>

#include "ui/frame/commands.h"
#include "ui/frame/frame_host.h"
#include "ui/list/list_host.h"
#include "ui/preview/pict_view.h"

namespace kestrel {

class KSMainView;
class KSChildView;
class KSPictView;
class KSListCtrl;
class OBCStatusBar;
class SWFDocument;

class KSMainFrame : public QMainWindow, public PictViewSource, public ListHost {
    Q_OBJECT
public:
    explicit KSMainFrame(FrameHost* app);
    ~KSMainFrame() override;

    KSMainView* mainView() const { return mainView_; }
    KSChildView* childView() const;
    KSPictView* pictView() const override;
    SWFDocument* document() const;
    KSListCtrl* listCtrl() const;
    OBCStatusBar* statusBarPanes() const { return statusBar_; }
    QToolBar* toolBar() const { return toolBar_; }

    // The action of a command id (shared by menu, accelerator and toolbar).
    QAction* action(int id) const;
    // Runs a command: the list pane first, then the frame and the
    // application.
    void onCommand(int id) override;
    // Decides enabling and checks of every command.
    void updateCommandUI() override;
    CommandState commandState(int id) const;

    SWFDocument* openFile(const QString& path);
    void updateTitle() override;
    void updateStatusTexts() override;
    void setPaneText(int index, const QString& text);
    void setDescription(const QString& text) override;
    // Shows the outcome of a command in the message pane until the next
    // prompt or status update.
    void showResult(const QString& text) override;
    bool showingResult() const override { return showingResult_; }
    void updateRecentMenu();

    // The file a drop opens: the first ".swf" (any case), else the last.
    static QString chooseDroppedFile(const QStringList& names);
    // Opens the chosen file of a drop after the drop event has returned.
    void dropFiles(const QStringList& names);

    // ListHost
    QMainWindow* hostWindow() override { return this; }
    void addRecentFile(const QString& path) override;
    int initialViewMode() const override;
    int initialSortKey() const override;
    WriteOptions extractOptions() const override;
    void setExtractOptions(const WriteOptions& options) override;

    // PictViewSource
    const SWFDocument* panelDocument() const override;
    QString panelPath() const override;
    int panelItemCount() const override;
    int panelFocusedItem() const override;
    const QPixmap* panelSmallIcon(int index) const override;
    const QPixmap* panelLargeIcon(int index) const override;
    void panelPlay() override;

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // Takes a drag of files from another program; refuses the list's own.
    static void acceptFileDrag(QDropEvent* event);
    QAction* makeAction(int id, const QString& text, const QList<QKeySequence>& keys = {});
    void createMenus();
    void createToolBar();
    void createStatusBar();
    bool frameCommand(int id);

    FrameHost* app_;
    std::map<int, QAction*> actions_;
    std::vector<QAction*> recentActions_;
    QAction* recentPlaceholder_ = nullptr;
    QToolBar* toolBar_ = nullptr;
    OBCStatusBar* statusBar_ = nullptr;
    KSMainView* mainView_ = nullptr;
    bool showingResult_ = false;
};

}  // namespace kestrel
