// Finding and selecting resources in the window's list, for the UI tests.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>

#include "document/swf_document.h"
#include "ui/list/list_ctrl.h"

namespace kestrel::test {

// Position of the resource of `kind` with `number`; a test failure and 0
// when there is none.
inline int rowOf(const SWFDocument& doc, int kind, int number) {
    for (int i = 0; i < doc.count(); ++i) {
        if (doc.resource(i).kind == kind && doc.resource(i).number == number) return i;
    }
    ADD_FAILURE() << "no resource " << kind << "/" << number;
    return 0;
}

// Selects exactly these rows; with `focusFirst` the first also gets the focus.
inline void selectRows(KSListCtrl& list, std::initializer_list<int> rows, bool focusFirst = false) {
    list.clearSelection();
    for (int row : rows) list.setItemSelected(row, true);
    if (focusFirst && rows.size() > 0) list.setFocusedItem(*rows.begin());
}

}  // namespace kestrel::test
