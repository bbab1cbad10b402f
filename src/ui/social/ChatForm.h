#pragma once

#include <QWidget>

#include <string>

class QShowEvent;

namespace Ui {
class ChatForm;
}

// The tab of one private conversation: the lines exchanged with one user
// and an input line. Each tab ties itself to its user in the store through
// a "user_chat_widget" item valued by its address, so that the window finds
// it again; the item goes with the tab (once, whoever removes it first).
// A line typed while the link is not logged in is neither shown nor sent:
// it stays in the input line and a status line says so.
class ChatForm : public QWidget
{
    Q_OBJECT

public:
    ChatForm(std::string i_user, QWidget* ip_parent = nullptr);
    ~ChatForm() override;

    const std::string& User() const { return m_user; }
    Ui::ChatForm* Form() const { return ui; }

    // A message received from the user (UTF-8); a notice on the event bar
    // when the tab is out of sight.
    void AddChat(const std::string& i_text);
    // Brings the tab forward with the focus in its input line.
    void Focus();

public slots:
    void OnEnter();

protected:
    // A tab that comes into sight has no notice left to give.
    void showEvent(QShowEvent* ip_event) override;

private:
    Ui::ChatForm* ui;
    std::string m_user;
};
