#pragma once

#include <QList>

class QDialogButtonBox;
class QWidget;

// The keyboard in the small settings dialogs: the fields in the given order
// come first in the tab order, the buttons after them (OK, then Cancel);
// the first field has the focus when the dialog opens, and OK is the
// default button, so Return accepts from any field. (The forms create the
// button box first, which put the focus on OK: a space typed into the
// expected field pressed it.)
void OrderDialogKeyboard(const QList<QWidget*>& i_fields, QDialogButtonBox* ip_buttons);
