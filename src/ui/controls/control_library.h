// The control library's process-wide services: the user-interface fonts,
// dialog units, the wait cursor and the program's PNG artwork.
#pragma once

#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QString>

class QWidget;

namespace kestrel {

struct ControlLibraryOptions {
    bool preferTahoma = false;  // use "Tahoma" for the UI font when it is installed
    bool themesOff = false;     // accepted for completeness: Qt styles have no per-window themes
    bool dialogFont = false;    // library dialogs give the UI font to their children
};

class ControlLibrary {
public:
    // Creates the fonts and loads the shared artwork; false when the
    // artwork is missing from the program's resources.
    static bool initialise();
    static void release();
    static bool initialised();

    static ControlLibraryOptions& options();

    // UI font 1 and 2, made from the application's default font.
    static QFont uiFont();
    static QFont uiFont2();
};

// Dialog units of a font: u = average character width / 4, v = line
// height / 8.
class DialogUnits {
public:
    explicit DialogUnits(const QFont& font);
    int x(double u) const;
    int y(double v) const;
    double baseX() const { return baseX_; }
    double baseY() const { return baseY_; }

private:
    double baseX_;
    double baseY_;
};

// Lets queued window events run (painting, timers) but no user input.
void processPendingMessages();

// Shows the wait cursor for its lifetime.
class WaitCursor {
public:
    WaitCursor();
    ~WaitCursor();
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

// Lifts every wait cursor for its lifetime (while a message box or a
// dialog is shown) and puts them back afterwards.
class CursorLift {
public:
    CursorLift();
    ~CursorLift();
    CursorLift(const CursorLift&) = delete;
    CursorLift& operator=(const CursorLift&) = delete;

private:
    int lifted_ = 0;
};

// The program's artwork, decoded from the PNG files of its resources by
// the picture library's PNG reader. Null image when a name is unknown.
namespace artwork {
// The toolbar strip, the small icons and the banner come with a drawing at
// twice the size ("@2x", transparent instead of keyed) for screens scaled
// by 2.
inline constexpr const char* kToolbar = ":/art/toolbar.png";  // 7 cells of 23 x 20
inline constexpr const char* kToolbar2x = ":/art/toolbar@2x.png";
inline constexpr const char* kSmallIcons = ":/art/small-icons.png";  // 3 cells of 22 x 22: image, sound, video
inline constexpr const char* kSmallIcons2x = ":/art/small-icons@2x.png";
inline constexpr const char* kSoundPicture = ":/art/sound.png";    // 23 x 22
inline constexpr const char* kVideoPicture = ":/art/film.png";     // 23 x 22
inline constexpr const char* kThumbnailFrame = ":/art/frame.png";  // 100 x 100
inline constexpr const char* kBanner = ":/art/banner.png";         // 150 x 120
inline constexpr const char* kBanner2x = ":/art/banner@2x.png";
inline constexpr const char* kAbout = ":/art/about.png";  // 452 x 239
inline constexpr const char* kIcon16 = ":/art/kestrel-16.png";
inline constexpr const char* kIcon32 = ":/art/kestrel-32.png";
inline constexpr const char* kIcon48 = ":/art/kestrel-48.png";
inline constexpr const char* kIcon64 = ":/art/kestrel-64.png";

QImage load(const QString& resource);
// Magenta (255, 0, 255) pixels become transparent.
QImage loadKeyed(const QString& resource);
// One cell of a strip of equal cells laid side by side.
QPixmap cell(const QImage& strip, int index, int cellWidth);
// Cell `index` of a keyed strip and of its drawing at twice the size, as one
// icon: the toolkit draws the one that suits the screen, and derives the
// disabled look from it.
QIcon cellIcon(const QImage& strip, const QImage& strip2x, int index, int cellWidth);
// The program icon at every size it ships in.
QIcon programIcon();
}  // namespace artwork

}  // namespace kestrel
