#pragma once

class QWidget;

// Brings a widget in front of the user: every enclosing tab widget shows the
// page that holds it, its window is activated, and it takes the keyboard
// focus. A null widget is ignored.
void FocusWidget(QWidget* ip_widget);
void FocusWidgetAndParents(QWidget* ip_widget);
