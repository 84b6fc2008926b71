// "Resource Properties": the facts of one resource in six read-only fields,
// one for the names the movie gives it when it has any, one for the
// DefineBinaryData it comes from when it comes from one, and one for what
// went wrong with it when anything did.
#pragma once

#include <QString>
#include <map>

#include "ui/controls/ob_dialog.h"

class QLineEdit;

namespace kestrel {

class SWFRes;

class KSPropertiesDlg : public OBCDialog {
    Q_OBJECT
public:
    enum Field {
        kTitle = 1011,
        kEncoding = 1005,
        kType = 1006,
        kFrame = 1007,
        kSize = 1008,
        kDimension = 1009,
        kProblems = 1010,
        kNames = 1012,
        kOrigin = 1013
    };

    KSPropertiesDlg(const SWFRes& resource, QWidget* parent);

    QString fieldText(int field) const;
    QLineEdit* field(int id) const;

    // The field texts of a resource, as the dialog shows them.
    static std::map<int, QString> texts(const SWFRes& resource);

private:
    // Widens the fields (and the dialog) until every text shows whole.
    void fitFieldsToTexts();

    std::map<int, QLineEdit*> fields_;
};

}  // namespace kestrel
