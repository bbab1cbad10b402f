#pragma once

class QFileDialog;
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

// Makes a file dialog a chooser of one folder: it lists folders only (what
// "its directory mode" means for the user) and opens at i_start, or at the
// home folder when i_start is empty or no folder.
void SetUpFolderChooser(QFileDialog& io_chooser, const QString& i_start);
