#include "ui/app/kestrel_app.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>
#include <QUrl>

#include "audio/decoder.h"
#include "document/swf_res.h"
#include "ui/controls/control_library.h"
#include "ui/controls/locale.h"
#include "ui/controls/message_box.h"
#include "ui/controls/texts.h"
#include "ui/controls/wnd_placement.h"
#include "ui/dialogs/about_dlg.h"
#include "ui/frame/main_frame.h"

#ifndef KESTREL_DOC_DIR
#define KESTREL_DOC_DIR ""
#endif

namespace kestrel {

namespace {

KestrelApp* theApp = nullptr;
const QString kSettingsKey = QStringLiteral("Settings");
const QString kManualName = QStringLiteral("kestrel-manual.html");

}  // namespace

KestrelApp::KestrelApp() {
    settings_.version = 1;
    settings_.viewMode = 0;
    settings_.sortKey = 0;
    settings_.statusBar = 0;
    settings_.toolbar = 0;
    theApp = this;
}

KestrelApp::~KestrelApp() {
    mainFrame_.reset();
    if (theApp == this) theApp = nullptr;
}

KestrelApp* KestrelApp::instance() { return theApp; }

bool KestrelApp::initInstance(const QStringList& arguments) {
    locale_ = std::make_unique<OBCLocale>(QString::fromLatin1(text::kAppTitle));
    locale_->chooseLanguage(QStringLiteral("kestrel_"));

    ControlLibrary::options().preferTahoma = true;
    ControlLibrary::options().themesOff = true;
    if (!ControlLibrary::initialise()) return false;
    ControlLibrary::options().dialogFont = true;

    QApplication::setWindowIcon(artwork::programIcon());
    QCoreApplication::setOrganizationName(QStringLiteral("Orvane Technologies"));
    QCoreApplication::setApplicationName(QString::fromLatin1(text::kAppTitle));

    recentFiles_.load();
    settings_ = readSettings();
    settingsLoaded_ = true;

    // The decoder cache and the sound system, for the sound previews.
    AudioStartup();

    mainFrame_ = std::make_unique<KSMainFrame>(this);
    mainFrame_->setAcceptDrops(true);

    OBWndPlacement placement;
    if (placement.restore(kSettingsKey, mainFrame_.get(), true)) {
        placement.show(mainFrame_.get());
    } else {
        // The first start uses the screen: about 70 % of it, centred, never
        // smaller than the window's own size.
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            const QSize size = mainFrame_->size().expandedTo(area.size() * 0.7).boundedTo(area.size());
            mainFrame_->setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size, area));
        }
        mainFrame_->show();
    }
    mainFrame_->update();

    // One optional path, made absolute before use.
    if (arguments.size() > 1 && !arguments.at(1).isEmpty())
        openDocumentFile(QFileInfo(arguments.at(1)).absoluteFilePath());

    mainFrame_->raise();
    mainFrame_->activateWindow();
    return true;
}

int KestrelApp::exitInstance() {
    // The window goes first: it writes the view mode and the sort key into
    // the settings record as it is destroyed.
    mainFrame_.reset();
    AudioShutdown();
    if (settingsLoaded_) writeSettings(settings_);
    ControlLibrary::release();
    recentFiles_.save();
    return 0;
}

SWFDocument* KestrelApp::openDocumentFile(const QString& path) {
    return mainFrame_ ? mainFrame_->openFile(path) : nullptr;
}

bool KestrelApp::openRecentFile(int index) {
    if (index < 0 || index >= recentFiles_.entries().size()) return false;
    const QString path = recentFiles_.entries().at(index);
    if (openDocumentFile(path)) return true;
    recentFiles_.remove(path);
    if (mainFrame_) mainFrame_->updateRecentMenu();
    return false;
}

QString KestrelApp::manualPath() {
    const QString beside = QDir(QCoreApplication::applicationDirPath()).filePath(kManualName);
    if (QFileInfo::exists(beside)) return beside;
    const QString installed =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../share/doc/kestrel/") + kManualName);
    if (QFileInfo::exists(installed)) return QDir::cleanPath(installed);
    const QString configured = QDir(QString::fromUtf8(KESTREL_DOC_DIR)).filePath(kManualName);
    if (!QString::fromUtf8(KESTREL_DOC_DIR).isEmpty() && QFileInfo::exists(configured)) return configured;
    return {};
}

WriteOptions KestrelApp::extractOptions() const { return readExtractOptions(); }

void KestrelApp::setExtractOptions(const WriteOptions& options) { writeExtractOptions(options); }

void KestrelApp::helpContents() {
    QString path = manualPath();
    // Without a manual the desktop is asked for the one beside the program
    // and reports the missing file itself.
    if (path.isEmpty()) path = QDir(QCoreApplication::applicationDirPath()).filePath(kManualName);
    openOnDesktop(mainFrame_.get(), path);
}

void KestrelApp::about() {
    KSAboutDlg dialog(mainFrame_.get());
    dialog.exec();
}

}  // namespace kestrel
