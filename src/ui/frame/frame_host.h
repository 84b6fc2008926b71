// What the main window needs from the application: the stored window
// state, the write choices of extraction, the recent-file list and the
// help and about commands. The
// application provides it, so that the frame never includes it.
#pragma once

#include <QString>
#include <QStringList>

namespace kestrel {

struct WriteOptions;

class FrameHost {
public:
    // The state the window starts in, and where it leaves it.
    virtual bool toolbarShown() const = 0;
    virtual bool statusBarShown() const = 0;
    virtual void setBarsShown(bool toolbar, bool statusBar) = 0;
    virtual int listViewMode() const = 0;
    virtual int listSortKey() const = 0;
    virtual void setListState(int viewMode, int sortKey) = 0;
    // The write choices of the Extract dialog, which drag-out uses too.
    virtual WriteOptions extractOptions() const = 0;
    virtual void setExtractOptions(const WriteOptions& options) = 0;

    virtual const QStringList& recentFileEntries() const = 0;
    virtual int recentFileCapacity() const = 0;
    virtual void addRecentFile(const QString& path) = 0;
    virtual bool openRecentFile(int index) = 0;

    virtual void helpContents() = 0;
    virtual void about() = 0;

protected:
    ~FrameHost() = default;
};

}  // namespace kestrel
