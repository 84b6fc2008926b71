// Acting inside modal dialogs: steps queued by a test run, in order, on the
// dialogs that the code under test opens with exec(). Each step gets the
// active modal widget and answers whether it was the one it expected;
// steps that see another widget wait for theirs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>
#include <string>

namespace kestrel::test {

class ModalScript {
public:
    ModalScript() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
        timer_.start(5);
    }
    ~ModalScript() {
        timer_.stop();
        for (const Step& step : steps_) ADD_FAILURE() << "dialog step never ran: " << step.name;
    }

    // A step for a dialog of type T.
    template <typename T>
    ModalScript& on(const std::string& name, std::function<void(T*)> action) {
        steps_.push_back({name, [](QWidget* w) { return qobject_cast<T*>(w) != nullptr; },
                          [action](QWidget* w) { action(qobject_cast<T*>(w)); }});
        return *this;
    }

    // How many steps ran.
    int done() const { return done_; }
    bool finished() const { return steps_.empty(); }

private:
    struct Step {
        std::string name;
        std::function<bool(QWidget*)> matches;
        std::function<void(QWidget*)> run;
    };

    void tick() {
        QWidget* active = QApplication::activeModalWidget();
        if (!active || !active->isVisible() || active == last_) {
            waiting_.invalidate();
            return;
        }
        if (steps_.empty() || !steps_.front().matches(active)) {
            // A dialog nobody expected would block the test for ever.
            if (!waiting_.isValid()) waiting_.start();
            if (waiting_.elapsed() < 3000) return;
            ADD_FAILURE() << "unexpected dialog: " << active->metaObject()->className() << " \""
                          << active->windowTitle().toStdString() << "\"";
            waiting_.invalidate();
            if (auto* dialog = qobject_cast<QDialog*>(active))
                dialog->reject();
            else
                active->close();
            return;
        }
        waiting_.invalidate();
        // Taken off first: the action may open a nested dialog, whose loop
        // runs this timer again.
        const Step step = steps_.front();
        steps_.pop_front();
        last_ = active;
        ++done_;
        step.run(active);
    }

    QTimer timer_;
    std::deque<Step> steps_;
    QPointer<QWidget> last_;
    QElapsedTimer waiting_;
    int done_ = 0;
};

}  // namespace kestrel::test
