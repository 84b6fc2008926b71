#include "ui/dialogs/extraction.h"

#include <QFile>
#include <numeric>

#include "document/extract.h"
#include "document/swf_document.h"
#include "ui/app/settings.h"
#include "ui/controls/control_library.h"
#include "ui/controls/message_box.h"
#include "ui/dialogs/file_exists_dlg.h"
#include "ui/dialogs/read_progress.h"
#include "ui/dialogs/select_folder_dlg.h"
#include "ui/frame/main_frame.h"
#include "ui/list/child_view.h"

namespace kestrel {

namespace {

class WindowExtractionHost final : public ExtractionHost {
public:
    explicit WindowExtractionHost(KSMainFrame& frame) : frame_(frame), progress_(&frame) {}

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
            case KSFileAlreadyExistsDlg::Cancel: return OverwriteAnswer::Cancel;
            default: return OverwriteAnswer::Yes;
        }
    }

    MessageAnswer report(const std::string& text, MessageIcon icon, MessageButtons buttons) override {
        return MessageBoxSink(&frame_).show(text, icon, buttons);
    }

    void beginProgress(int steps) override {
        if (!progress_.create()) return;
        progress_.setPhases(1, steps);
        shown_ = true;
    }
    void setProgress(int step) override {
        if (shown_) progress_.setPosition(step);
    }
    void endProgress() override {
        progress_.remove();
        shown_ = false;
    }

private:
    KSMainFrame& frame_;
    KSReadProgress progress_;
    bool shown_ = false;
};

}  // namespace

void extractResources(KSMainFrame& frame) {
    KSChildView* pane = frame.childView();
    SWFDocument* document = pane ? pane->document() : nullptr;
    if (!document) return;

    const std::vector<int> selected = pane->selectedIndices();
    KSelectFolderDlg dialog(&frame, pane->path(), !selected.empty(), readExtractOptions());
    if (dialog.exec() != QDialog::Accepted) return;
    const WriteOptions options = dialog.options();
    writeExtractOptions(options);

    std::vector<int> indices;
    if (dialog.selectedOnly()) {
        indices = selected;
    } else {
        indices.resize(std::size_t(document->count()));
        std::iota(indices.begin(), indices.end(), 0);
    }

    processPendingMessages();
    const WaitCursor wait;
    WindowExtractionHost host(frame);
    extractResources(*document, QFile::encodeName(dialog.folder()).toStdString(), indices, host, options);
}

}  // namespace kestrel
