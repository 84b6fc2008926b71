#include "ui/dialogs/extraction.h"

#include <QFile>
#include <QMainWindow>
#include <numeric>

#include "document/extract.h"
#include "document/swf_document.h"
#include "ui/controls/control_library.h"
#include "ui/controls/message_box.h"
#include "ui/dialogs/file_exists_dlg.h"
#include "ui/dialogs/read_progress.h"
#include "ui/dialogs/select_folder_dlg.h"

namespace kestrel {

namespace {

class WindowExtractionHost final : public ExtractionHost {
public:
    explicit WindowExtractionHost(QMainWindow& frame) : frame_(frame), progress_(&frame) {}

    OverwriteAnswer confirmOverwrite(const std::string& path) override {
        int result = KSFileAlreadyExistsDlg::Cancel;
        {
            const CursorLift lift;
            KSFileAlreadyExistsDlg dialog(QFile::decodeName(QByteArray::fromStdString(path)), &frame_);
            result = dialog.exec();
        }
        processPendingMessages();
        switch (result) {
            case KSFileAlreadyExistsDlg::All: return OverwriteAnswer::All;
            case KSFileAlreadyExistsDlg::No: return OverwriteAnswer::No;
            case KSFileAlreadyExistsDlg::NoToAll: return OverwriteAnswer::NoToAll;
            case KSFileAlreadyExistsDlg::Cancel: return OverwriteAnswer::Cancel;
            default: return OverwriteAnswer::Yes;
        }
    }

    MessageAnswer report(const std::string& text, MessageIcon icon, MessageButtons buttons) override {
        return MessageBoxSink(&frame_).show(text, icon, buttons);
    }

    void beginProgress(int steps) override {
        if (!progress_.create(QString(), true)) return;
        progress_.setPhases(1, steps);
        shown_ = true;
    }
    void setProgress(int step) override {
        if (!shown_) return;
        progress_.setPosition(step);
        progress_.keepAlive();
    }
    // Escape or the Cancel button beside the bar: the file being written
    // is finished, no other is begun.
    bool cancelRequested() override { return shown_ && progress_.cancelRequested(); }
    void endProgress() override {
        progress_.remove();
        shown_ = false;
    }

private:
    QMainWindow& frame_;
    KSReadProgress progress_;
    bool shown_ = false;
};

}  // namespace

std::optional<QString> extractResources(QMainWindow& frame, const SWFDocument& doc, const QString& moviePath,
                                        const std::vector<int>& selected, const ExtractChoices& choices) {
    const SWFDocument* document = &doc;
    KSelectFolderDlg dialog(&frame, moviePath, !selected.empty(), choices.options);
    if (choices.help) QObject::connect(&dialog, &KSelectFolderDlg::helpRequested, &dialog, choices.help);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const WriteOptions options = dialog.options();
    if (choices.keep) choices.keep(options);

    std::vector<int> indices;
    if (dialog.selectedOnly()) {
        indices = selected;
    } else {
        indices.resize(std::size_t(document->count()));
        std::iota(indices.begin(), indices.end(), 0);
    }

    processPendingMessages();
    ExtractSummary summary;
    {
        const WaitCursor wait;
        WindowExtractionHost host(frame);
        summary = extractResources(*document, QFile::encodeName(dialog.folder()).toStdString(), indices, host, options);
    }
    if (summary.folderFailed) return std::nullopt;
    return extractionResultText(summary, dialog.folder());
}

QString extractionResultText(const ExtractSummary& summary, const QString& folder) {
    QString text = summary.written == 1 ? QStringLiteral("1 file written to %1").arg(folder)
                                        : QStringLiteral("%1 files written to %2").arg(summary.written).arg(folder);
    if (summary.skipped > 0 || summary.failed > 0)
        text += QStringLiteral(", %1 skipped, %2 failed").arg(summary.skipped).arg(summary.failed);
    if (summary.cancelled) text += QStringLiteral(" (cancelled)");
    return text;
}

}  // namespace kestrel
