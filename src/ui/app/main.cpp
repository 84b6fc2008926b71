// kestrel: the window program. One optional argument: a file to open.
#include <QApplication>

#include "base/task_pool.h"
#include "ui/app/kestrel_app.h"

int main(int argc, char** argv) {
    kestrel::TaskPool::allocateFromOneHeap();
    QApplication application(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("kestrel"));
    kestrel::KestrelApp app;
    if (!app.initInstance(QApplication::arguments())) return 1;
    const int status = QApplication::exec();
    app.exitInstance();
    return status;
}
