// The application object: start-up, the settings record, the recent-file
// list, help, the about box and exit.
#pragma once

#include <QString>
#include <QStringList>
#include <memory>

#include "ui/app/settings.h"
#include "ui/frame/frame_host.h"

namespace kestrel {

class KSMainFrame;
class OBCLocale;
class SWFDocument;

class KestrelApp : public FrameHost {
public:
    KestrelApp();
    ~KestrelApp();
    KestrelApp(const KestrelApp&) = delete;
    KestrelApp& operator=(const KestrelApp&) = delete;

    // The one instance of the process, null before it exists.
    static KestrelApp* instance();

    // Start-up sequence. `arguments`: the program name, then at most one
    // path of a file to open. False ends the process.
    bool initInstance(const QStringList& arguments);
    // Exit sequence: the window goes, the settings and the recent-file list
    // are written.
    int exitInstance();

    SettingsRecord& settings() { return settings_; }
    bool settingsLoaded() const { return settingsLoaded_; }
    RecentFileList& recentFiles() { return recentFiles_; }

    // FrameHost
    bool toolbarShown() const override { return settings_.toolbar != 0; }
    bool statusBarShown() const override { return settings_.statusBar != 0; }
    void setBarsShown(bool toolbar, bool statusBar) override {
        settings_.toolbar = toolbar ? 1 : 0;
        settings_.statusBar = statusBar ? 1 : 0;
    }
    int listViewMode() const override { return settings_.viewMode; }
    int listSortKey() const override { return settings_.sortKey; }
    void setListState(int viewMode, int sortKey) override {
        settings_.viewMode = viewMode;
        settings_.sortKey = sortKey;
    }
    WriteOptions extractOptions() const override;
    void setExtractOptions(const WriteOptions& options) override;
    const QStringList& recentFileEntries() const override { return recentFiles_.entries(); }
    int recentFileCapacity() const override { return recentFiles_.capacity(); }
    void addRecentFile(const QString& path) override { recentFiles_.add(path); }
    KSMainFrame* mainFrame() const { return mainFrame_.get(); }
    OBCLocale* locale() const { return locale_.get(); }

    // Opens a file in the main window; null when it was not opened.
    SWFDocument* openDocumentFile(const QString& path);
    // Opens recent-file entry `index`; a failed open removes that path from
    // the list.
    bool openRecentFile(int index) override;

    void helpContents() override;
    void about() override;
    // The HTML manual beside the program, else in the installed data
    // folder; empty when neither exists.
    static QString manualPath();

private:
    std::unique_ptr<OBCLocale> locale_;
    SettingsRecord settings_;
    bool settingsLoaded_ = false;
    RecentFileList recentFiles_{8};
    std::unique_ptr<KSMainFrame> mainFrame_;
};

}  // namespace kestrel
