// Shared pieces of the window tests: the message-box answering hook, the
// desktop-URL recorder, a fixture that starts the program with settings in
// a temporary folder, and the sample files.
#pragma once

#include <gtest/gtest.h>

#include <QObject>
#include <QSettings>
#include <QStringList>
#include <QUrl>
#include <deque>
#include <functional>
#include <memory>
#include <vector>

#include "ui/app/kestrel_app.h"
#include "ui/controls/message_box.h"

namespace kestrel::test {

// Every message box shown while a test runs; answers queued by the test are
// given in order, the default button otherwise.
struct MessageLog {
    std::vector<MessageBoxRequest> shown;
    std::deque<int> answers;
    bool cursorWasLifted = true;
    std::function<void()> onShow;  // runs inside the box, before it answers
    void clear() {
        onShow = nullptr;
        shown.clear();
        answers.clear();
        cursorWasLifted = true;
    }
};
MessageLog& messages();

// URLs handed to the desktop (help, launch) instead of opening them.
class UrlRecorder : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> urls;
public slots:
    void handle(const QUrl& url) { urls.push_back(url); }
};
UrlRecorder& openedUrls();

// Removes every stored setting of the program (user and machine scope).
void clearStoredSettings();

QString demoFile();
// A movie of the fixture set under tests/data.
QString fixtureFile(const char* name);
// Every real movie there is: the demo, the fixture set and, when it is
// there, the shared corpus.
QStringList realMovies();
// How many resources the demo movie lists.
int demoResourceCount();

// Fixture: clean settings, empty logs, and helpers to run the program.
class UiTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Runs the start-up sequence with an optional file argument.
    KestrelApp& start(const QStringList& extra = {});
    // Runs the exit sequence and forgets the program.
    void finish();

    std::unique_ptr<KestrelApp> app_;
};

// Lets queued calls and posted events run.
void pump();

}  // namespace kestrel::test
