// The program's message box: every message and question reaches the user
// through it. Built at run time from a type word laid out like the
// platform's classic message-box flags.
#pragma once

#include <QDialog>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "document/messages.h"

class QPushButton;
class QTextEdit;
class QLabel;

namespace kestrel {

// Button sets (bits 0..3).
inline constexpr unsigned kMbOk = 0x0;
inline constexpr unsigned kMbOkCancel = 0x1;
inline constexpr unsigned kMbAbortRetryIgnore = 0x2;
inline constexpr unsigned kMbYesNoCancel = 0x3;
inline constexpr unsigned kMbYesNo = 0x4;
inline constexpr unsigned kMbRetryCancel = 0x5;
// Icons (bits 4..7).
inline constexpr unsigned kMbIconStop = 0x10;
inline constexpr unsigned kMbIconQuestion = 0x20;
inline constexpr unsigned kMbIconExclamation = 0x30;
inline constexpr unsigned kMbIconInformation = 0x40;
// Default button (bits 8..11).
inline constexpr unsigned kMbDefButton1 = 0x000;
inline constexpr unsigned kMbDefButton2 = 0x100;
inline constexpr unsigned kMbDefButton3 = 0x200;
inline constexpr unsigned kMbDefButton4 = 0x300;
inline constexpr unsigned kMbTopmost = 0x40000;

// Button ids.
inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdAbort = 3;
inline constexpr int kIdRetry = 4;
inline constexpr int kIdIgnore = 5;
inline constexpr int kIdYes = 6;
inline constexpr int kIdNo = 7;

// What a box shows, as decided from its type.
struct MessageBoxRequest {
    QString text;
    QString caption;
    unsigned type = 0;
    struct Button {
        int id;
        QString text;
    };
    std::vector<Button> buttons;
    int defaultId = 0;
    int escapeId = 0;  // 0: no button cancels; Escape and close requests are ignored
    int icon = 0;      // 0 none, 1 stop, 2 question, 3 exclamation, 4 information
    bool topmost = false;
};

MessageBoxRequest describeMessageBox(const QString& text, const QString& caption, unsigned type);

class OBCMessageBox : public QDialog {
    Q_OBJECT
public:
    OBCMessageBox(QWidget* owner, const QString& text, const QString& caption, unsigned type);

    // Shows a box modally and returns the id of the button pressed.
    // With a test hook installed, the hook answers instead and no window
    // is shown.
    static int run(QWidget* owner, const QString& text, const QString& caption, unsigned type);

    // Process-wide answering hook for automated runs: it receives every
    // request and returns the button id to report. Pass an empty function
    // to remove it.
    using Hook = std::function<int(const MessageBoxRequest&)>;
    static void setHook(Hook hook);

    const MessageBoxRequest& request() const { return request_; }
    QPushButton* button(int id) const;
    QTextEdit* textArea() const { return text_; }
    // Width of the text block chosen by the width search.
    int textWidth() const { return textWidth_; }

    // The smallest width, searched between 0 and `fullWidth`, at which the
    // text needs no more lines than at `fullWidth`.
    static int narrowestWidth(const QString& text, const QFont& font, int fullWidth);
    static int lineCount(const QString& text, const QFont& font, int width);

    int exec() override;

public slots:
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void build();

    MessageBoxRequest request_;
    QTextEdit* text_ = nullptr;
    QLabel* iconLabel_ = nullptr;
    std::vector<QPushButton*> buttons_;
    int textWidth_ = 0;
};

// MessageSink for the core: errors with the stop icon, warnings and
// questions with the exclamation icon, the program's title as caption.
class MessageBoxSink final : public MessageSink {
public:
    explicit MessageBoxSink(QWidget* owner) : owner_(owner) {}
    MessageAnswer show(const std::string& text, MessageIcon icon, MessageButtons buttons) override;

private:
    QWidget* owner_;
};

// The application's show-message rule: a box whose type names no icon gets
// the exclamation icon for the OK, OK/Cancel, Yes/No/Cancel and Yes/No
// sets. The caption is the program's title.
int showMessage(QWidget* owner, const QString& text, unsigned type);

// Hands `path` (a file or a folder) to the desktop's default application;
// when none takes it, says so in a message box. False then.
bool openOnDesktop(QWidget* owner, const QString& path);

}  // namespace kestrel
