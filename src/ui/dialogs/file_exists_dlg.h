// The overwrite question of the Extract command: Yes, All, No, No to All or
// Cancel.
#pragma once

#include <QDialog>
#include <QString>

class QLabel;
class QPushButton;

namespace kestrel {

class KSFileAlreadyExistsDlg : public QDialog {
    Q_OBJECT
public:
    // exec() results. Escape and the close box give Cancel: ending the
    // extraction is safer than overwriting.
    enum Result {
        Yes = 10,
        All,
        No,
        Cancel,
        NoToAll
    };

    KSFileAlreadyExistsDlg(const QString& path, QWidget* parent);

    QString text() const;
    QPushButton* button(Result result) const;

public slots:
    void reject() override;

private:
    QLabel* text_ = nullptr;
    QPushButton* buttons_[5] = {};
};

}  // namespace kestrel
