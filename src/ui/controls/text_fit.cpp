#include "ui/controls/text_fit.h"

namespace kestrel {

QString shortenText(const QFontMetrics& metrics, const QString& text, int width) {
    if (metrics.horizontalAdvance(text) <= width) return text;
    const QString dots = QStringLiteral("...");
    const int dotsWidth = metrics.horizontalAdvance(dots);
    int keep = int(text.size());
    while (keep > 1 && metrics.horizontalAdvance(text.left(keep)) + dotsWidth > width) --keep;
    return text.left(std::max(keep, 1)) + dots;
}

namespace {

// Longest prefix of `word` that fits, at least one character.
int fittingPrefix(const QFontMetrics& metrics, const QString& word, int width) {
    int n = int(word.size());
    while (n > 1 && metrics.horizontalAdvance(word.left(n)) > width) --n;
    return n;
}

}  // namespace

QStringList wrapText(const QFontMetrics& metrics, const QString& text, int width) {
    QStringList lines;
    for (const QString& paragraph : text.split(QLatin1Char('\n'))) {
        QString line;
        for (QString word : paragraph.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QString candidate = line.isEmpty() ? word : line + QLatin1Char(' ') + word;
            if (metrics.horizontalAdvance(candidate) <= width) {
                line = candidate;
                continue;
            }
            if (!line.isEmpty()) lines.append(line);
            while (metrics.horizontalAdvance(word) > width && word.size() > 1) {
                const int n = fittingPrefix(metrics, word, width);
                lines.append(word.left(n));
                word = word.mid(n);
            }
            line = word;
        }
        lines.append(line);
    }
    return lines;
}

}  // namespace kestrel
