#pragma once

#include <QDialog>
#include <QString>

namespace Ui
{
class SharedFilesRescannedDialog;
}

// The report of one rescan of the shared folders. Non-modal, and deletes
// itself when closed; each rescan gets a dialog of its own.
class SharedFilesRescannedDialog : public QDialog
{
    Q_OBJECT

public:
    explicit SharedFilesRescannedDialog(QWidget* ip_parent = nullptr);
    ~SharedFilesRescannedDialog() override;

    // Adds the text as a new line at the end.
    void Append(QString i_text);

    // Opens the report of a rescan that added and removed these many files.
    static SharedFilesRescannedDialog* ShowReport(QWidget* ip_parent, int i_filesAdded, int i_filesRemoved);

private:
    Ui::SharedFilesRescannedDialog* ui;
};
