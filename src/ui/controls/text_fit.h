// Fitting text into a width: shortening with "..." and word wrapping that
// also breaks words wider than the width.
#pragma once

#include <QFontMetrics>
#include <QString>
#include <QStringList>

namespace kestrel {

// The text itself when it fits; otherwise the longest prefix (at least one
// character) that fits together with "...", followed by "...".
QString shortenText(const QFontMetrics& metrics, const QString& text, int width);

// Lines of the text wrapped at blanks to `width`; a word wider than the
// width is broken after the longest prefix that fits (at least one
// character), as often as needed. Line breaks in the text are kept.
QStringList wrapText(const QFontMetrics& metrics, const QString& text, int width);

}  // namespace kestrel
