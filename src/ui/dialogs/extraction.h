// The Extract command: the folder dialog, then every chosen resource
// written into the folder under the wait cursor, with the progress in the
// status bar and the questions and reports in message boxes.
#pragma once

#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "document/swf_res.h"

class QMainWindow;

namespace kestrel {

class SWFDocument;
struct ExtractSummary;

// What the Extract dialog takes from the window around it.
struct ExtractChoices {
    WriteOptions options;                           // the write choices it starts with
    std::function<void(const WriteOptions&)> keep;  // the user's choices, once confirmed
    std::function<void()> help;                     // the Help button
};

// Extracts resources of `document`, read from `moviePath`, with `selected`
// the rows the user chose; the progress shows in `window`'s status bar. The
// outcome for the message pane, or nothing when the dialog was cancelled
// or the folder failed.
std::optional<QString> extractResources(QMainWindow& window, const SWFDocument& document, const QString& moviePath,
                                        const std::vector<int>& selected, const ExtractChoices& choices);

// "N files written to DIR", then ", M skipped, K failed" when there were
// any.
QString extractionResultText(const ExtractSummary& summary, const QString& folder);

}  // namespace kestrel
