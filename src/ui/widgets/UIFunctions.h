#pragma once

class QString;
class QWidget;

// Brings a widget in front of the user: every enclosing tab widget shows the
// page that holds it, its window is activated, and it takes the keyboard
// focus. A null widget is ignored.
void FocusWidget(QWidget* ip_widget);
void FocusWidgetAndParents(QWidget* ip_widget);

// The text as a tab title, menu entry or tool-bar button shows it literally:
// every "&" doubled, so that none is taken for a keyboard mnemonic. Such a
// label is never read back; its owner keeps the plain text.
QString LiteralLabel(const QString& i_text);
