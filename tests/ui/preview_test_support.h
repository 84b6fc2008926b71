// Helpers of the preview tests: a movie made for them, running View while
// acting inside the modal preview, and optional screen shots.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <functional>

#include "document/swf_document.h"
#include "swfbuilder/swf_builder.h"
#include "ui/frame/commands.h"
#include "ui/frame/main_frame.h"
#include "ui/list/list_ctrl.h"

namespace kestrel::test {

// Previews play on SDL's silent driver unless the run chose another.
inline void useSilentAudio() { ::setenv("SDL_AUDIODRIVER", "dummy", 0); }

// Row of the first record matching `match`, -1 when none does.
inline int findRow(const SWFDocument& doc, const std::function<bool(const SWFRes&)>& match) {
    for (int i = 0; i < doc.count(); ++i)
        if (match(doc.resource(i))) return i;
    return -1;
}

// Selects and focuses exactly `row`.
inline void selectOnly(KSListCtrl& list, int row) {
    list.clearSelection();
    list.setItemSelected(row, true);
    list.setFocusedItem(row);
}

struct ModalRun {
    bool opened = false;    // a preview of the wanted kind came up
    bool timedOut = false;  // the watchdog had to close it
    qint64 elapsedMs = 0;   // how long the modal loop ran
};

// Runs `trigger` (which opens a modal preview) and calls `inside` with
// the preview once it is up. A preview still open after `watchdogMs` is
// closed and reported.
template <class Preview>
ModalRun runPreview(const std::function<void()>& trigger, const std::function<void(Preview&)>& inside,
                    int watchdogMs = 30000) {
    ModalRun run;
    // Looks for the preview on every turn of the event loop until it shows,
    // whenever that is.
    QTimer finder;
    QObject::connect(&finder, &QTimer::timeout, [&run, &inside, &finder] {
        auto* preview = qobject_cast<Preview*>(QApplication::activePopupWidget());
        if (!preview || !preview->isVisible()) return;
        finder.stop();
        run.opened = true;
        if (inside) inside(*preview);
    });
    finder.start(0);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&run] {
        if (QWidget* popup = QApplication::activePopupWidget()) {
            run.timedOut = true;
            popup->close();
        }
    });
    watchdog.start(watchdogMs);
    QElapsedTimer clock;
    clock.start();
    trigger();
    run.elapsedMs = clock.elapsed();
    return run;
}

// With KESTREL_SHOT_DIR set, saves the whole screen as NAME.png there.
inline void saveScreenShot(const char* name) {
    const QString dir = qEnvironmentVariable("KESTREL_SHOT_DIR");
    if (dir.isEmpty()) return;
    QCoreApplication::processEvents();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        screen->grabWindow(0).save(QDir(dir).filePath(QString::fromLatin1(name) + QStringLiteral(".png")));
}

// One RGBA value 0xRRGGBBAA repeated w x h times.
inline std::vector<std::uint32_t> solid(int w, int h, std::uint32_t rgba) {
    return std::vector<std::uint32_t>(std::size_t(w) * std::size_t(h), rgba);
}

// A DefineBitsLossless (opaque) or DefineBitsLossless2 tag of 32-bit pixels.
inline void addLossless(swfbuilder::Tags& tags, std::uint16_t id, int w, int h, const std::vector<std::uint32_t>& rgba,
                        bool withAlpha) {
    tags.tag(withAlpha ? swfbuilder::kTagDefineBitsLossless2 : swfbuilder::kTagDefineBitsLossless,
             swfbuilder::losslessBody(id, 5, std::uint16_t(w), std::uint16_t(h),
                                      swfbuilder::deflate(swfbuilder::argbRows(rgba))));
}

// An uncompressed 8-bit DefineSound at 5512 Hz lasting `ms` milliseconds.
inline void addPcmSound(swfbuilder::Tags& tags, std::uint16_t id, int ms, bool stereo, int format = 0) {
    const std::size_t frames = std::size_t(5512) * std::size_t(ms) / 1000;
    swfbuilder::Bytes data(frames * (stereo ? 2 : 1));
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = std::uint8_t(128 + ((i / 8) % 2 ? 40 : -40));
    tags.tag(swfbuilder::kTagDefineSound,
             swfbuilder::defineSoundBody(id, format, 0, false, stereo, std::uint32_t(frames), data));
}

}  // namespace kestrel::test
