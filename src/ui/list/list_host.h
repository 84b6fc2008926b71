// What the list pane needs from the window around it: the frame provides
// it, so that the list never includes the frame or the application.
#pragma once

#include <QString>

class QMainWindow;

namespace kestrel {

class KSPictView;
struct WriteOptions;

class ListHost {
public:
    // The window that owns dialogs, messages and the status bar's progress.
    virtual QMainWindow* hostWindow() = 0;
    virtual void onCommand(int id) = 0;
    virtual void updateCommandUI() = 0;
    virtual void updateStatusTexts() = 0;
    virtual void updateTitle() = 0;
    virtual void setDescription(const QString& text) = 0;
    virtual void showResult(const QString& text) = 0;
    virtual bool showingResult() const = 0;
    virtual KSPictView* pictView() const = 0;
    // A file was closed: it heads the recent-file list.
    virtual void addRecentFile(const QString& path) = 0;
    // The view mode and sort key the list starts with.
    virtual int initialViewMode() const = 0;
    virtual int initialSortKey() const = 0;
    // The write choices of the Extract dialog, kept between runs; drag-out
    // writes with them too.
    virtual WriteOptions extractOptions() const = 0;
    virtual void setExtractOptions(const WriteOptions& options) = 0;

protected:
    ~ListHost() = default;
};

}  // namespace kestrel
