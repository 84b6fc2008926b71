// ui_drop_target: a stand-in for a file manager in the X11 drag tests. It
// shows a window that accepts dropped files (text/uri-list), copies every
// dropped file into the folder named on its command line, reports on
// standard output and ends. With --source it is the other way round: a
// press in its window drags FILE out, as a file manager does.
//
//   ui_drop_target OUTPUT-FOLDER X Y
//   ui_drop_target --source FILE X Y
//
// Output: "ready X Y W H" once the window is on screen (its rectangle in
// screen coordinates), "over" once a drag of files is over it, then "file
// NAME" per copied file and "done", or "empty" for a drop without files; with --source, "copied" or "refused"
// when the drag is over.
#include <QApplication>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QTimer>
#include <QUrl>
#include <QWidget>
#include <QWindow>
#include <cstdio>
#include <memory>

namespace {

class Target : public QWidget {
public:
    explicit Target(const QString& folder) : folder_(folder) {
        setAcceptDrops(true);
        setWindowTitle(QStringLiteral("drop target"));
        setAutoFillBackground(true);
        QPalette p = palette();
        p.setColor(QPalette::Window, Qt::darkCyan);
        setPalette(p);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasFormat(QStringLiteral("text/uri-list"))) event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override {
        if (!event->mimeData()->hasFormat(QStringLiteral("text/uri-list"))) return;
        event->acceptProposedAction();
        if (!over_) {
            over_ = true;
            std::printf("over\n");
            std::fflush(stdout);
        }
    }
    void dropEvent(QDropEvent* event) override {
        const QList<QUrl> urls = event->mimeData()->urls();
        event->acceptProposedAction();
        int copied = 0;
        for (const QUrl& url : urls) {
            if (!url.isLocalFile()) continue;
            const QString name = QFileInfo(url.toLocalFile()).fileName();
            if (QFile::copy(url.toLocalFile(), QDir(folder_).filePath(name))) {
                std::printf("file %s\n", name.toLocal8Bit().constData());
                ++copied;
            }
        }
        std::printf(copied ? "done\n" : "empty\n");
        std::fflush(stdout);
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
    }

private:
    QString folder_;
    bool over_ = false;
};

// Drags one file out on the first press.
class Source : public QWidget {
public:
    explicit Source(const QString& file) : file_(file) { setWindowTitle(QStringLiteral("drag source")); }

protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* drag = new QDrag(this);
        auto* mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(file_)});
        drag->setMimeData(mime);
        const Qt::DropAction action = drag->exec(Qt::CopyAction);
        std::printf(action == Qt::CopyAction ? "copied\n" : "refused\n");
        std::fflush(stdout);
        // The target asks for the data once the drop has returned here, so
        // this program stays until the test ends it.
    }

private:
    QString file_;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 4) return 2;
    const bool source = args.at(1) == QLatin1String("--source");
    if (source && args.size() < 5) return 2;
    const int at = source ? 3 : 2;
    std::unique_ptr<QWidget> window;
    if (source)
        window = std::make_unique<Source>(args.at(2));
    else
        window = std::make_unique<Target>(args.at(1));
    window->setGeometry(args.at(at).toInt(), args.at(at + 1).toInt(), 320, 320);
    window->show();
    // Ready once the window is on the screen, however long that takes.
    QTimer exposed;
    QObject::connect(&exposed, &QTimer::timeout, [&window, &exposed] {
        if (!window->windowHandle() || !window->windowHandle()->isExposed()) return;
        exposed.stop();
        const QRect r(window->mapToGlobal(QPoint(0, 0)), window->size());
        std::printf("ready %d %d %d %d\n", r.x(), r.y(), r.width(), r.height());
        std::fflush(stdout);
    });
    exposed.start(10);
    // Never outlive a test that went wrong.
    QTimer::singleShot(60000, qApp, [] { QCoreApplication::exit(3); });
    return QApplication::exec();
}
