// Test main: an offscreen QApplication, the program's settings in a
// temporary folder, message boxes answered by the tests.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "document/swf_document.h"
#include "test_support.h"
#include "ui/app/kestrel_app.h"
#include "ui/controls/control_library.h"
#include "ui_test_support.h"

namespace kestrel::test {

MessageLog& messages() {
    static MessageLog log;
    return log;
}

UrlRecorder& openedUrls() {
    static UrlRecorder recorder;
    return recorder;
}

void clearStoredSettings() {
    QSettings user;
    user.clear();
    user.sync();
    QSettings machine(QSettings::SystemScope, QStringLiteral("Orvane Technologies"), QStringLiteral("Kestrel"));
    machine.clear();
    machine.sync();
}

QString demoFile() { return QStringLiteral(KESTREL_SOURCE_DIR "/samples/demo.swf"); }

QString fixtureFile(const char* name) { return QString::fromStdString(dataFile(name)); }

QStringList realMovies() {
    QStringList paths{demoFile()};
    const QDir fixtures(QString::fromStdString(dataFile("")));
    const QDir corpus(QString::fromStdString(corpusDir() + "/swf"));
    for (const QDir& dir : {fixtures, corpus}) {
        for (const QString& name : dir.entryList({QStringLiteral("*.swf")}, QDir::Files, QDir::Name))
            paths.append(dir.filePath(name));
    }
    return paths;
}

int demoResourceCount() {
    SWFDocument demo;
    if (!demo.readFile(QFile::encodeName(demoFile()).toStdString(), nullptr, nullptr)) return -1;
    return demo.count();
}

void pump() {
    for (int i = 0; i < 3; ++i) QCoreApplication::processEvents();
}

void UiTest::SetUp() {
    clearStoredSettings();
    messages().clear();
    openedUrls().urls.clear();
}

void UiTest::TearDown() {
    if (app_) finish();
}

KestrelApp& UiTest::start(const QStringList& extra) {
    app_ = std::make_unique<KestrelApp>();
    QStringList arguments{QStringLiteral("kestrel")};
    arguments += extra;
    EXPECT_TRUE(app_->initInstance(arguments));
    pump();
    return *app_;
}

void UiTest::finish() {
    app_->exitInstance();
    app_.reset();
}

}  // namespace kestrel::test

namespace {

QtMessageHandler previous = nullptr;

// The offscreen platform reports every window operation it cannot do.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (message.startsWith(QLatin1String("This plugin does not support")) ||
        message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    if (previous) previous(type, context, message);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    previous = qInstallMessageHandler(quietHandler);
    QTemporaryDir settingsHome;
    qputenv("XDG_CONFIG_HOME", settingsHome.path().toLocal8Bit());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsHome.filePath(QStringLiteral("user")));
    QSettings::setPath(QSettings::NativeFormat, QSettings::SystemScope,
                       settingsHome.filePath(QStringLiteral("system")));
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, settingsHome.filePath(QStringLiteral("user")));
    QSettings::setPath(QSettings::IniFormat, QSettings::SystemScope, settingsHome.filePath(QStringLiteral("system")));

    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Orvane Technologies"));
    QCoreApplication::setApplicationName(QStringLiteral("Kestrel"));
    kestrel::ControlLibrary::initialise();

    using kestrel::test::messages;
    kestrel::OBCMessageBox::setHook([](const kestrel::MessageBoxRequest& request) {
        messages().shown.push_back(request);
        if (QApplication::overrideCursor()) messages().cursorWasLifted = false;
        if (messages().onShow) messages().onShow();
        if (!messages().answers.empty()) {
            const int answer = messages().answers.front();
            messages().answers.pop_front();
            return answer;
        }
        return request.defaultId;
    });
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &kestrel::test::openedUrls(), "handle");

    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    return result;
}
