// Artwork of the previews, drawn by the program itself: the mono and
// stereo sound pictures of the picture panel, the play symbol, the
// preview cursor, and the raised frame of the borderless previews.
#pragma once

#include <QCursor>
#include <QImage>
#include <QRect>

class QPainter;
class QPalette;

namespace kestrel::preview_art {

inline constexpr int kSoundPictureSize = 100;
inline constexpr int kPlaySymbolSize = 16;
// Width of the frame the previews draw around their client area.
inline constexpr int kDialogFrame = 3;

// 100 x 100 on white: one loudspeaker (mono) or two (stereo).
QImage soundPicture(bool stereo);
// 16 x 16, transparent around the symbol.
QImage playSymbol();
// The cursor shown over the previews.
QCursor previewCursor();
// A raised frame kDialogFrame pixels wide along the inside of `rect`.
void drawDialogFrame(QPainter& painter, const QRect& rect, const QPalette& palette);

}  // namespace kestrel::preview_art
