#pragma once

// The action bar as the user meets it in the views' tests: the buttons it
// shows while a bound widget has the focus, and a click on one of them.

#include <QString>
#include <QStringList>

class QWidget;

// The texts of the bar's buttons for the widget's set.
QStringList BarButtons(QWidget& i_widget, const char* ip_set);
// A click on the button of that text while the widget has the focus; false
// when the bar shows no such button.
bool PressBarButton(QWidget& i_widget, const char* ip_set, const QString& i_button);
