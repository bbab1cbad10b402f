#pragma once

#include <QString>

#include <string>

class QTextBrowser;

// Texts of the rooms, chats and user lists. User, room and group names are
// byte strings shown one byte per character (Latin-1), so that a name read
// back from a widget maps to the same bytes; chat texts are UTF-8.

// Whether every character of a typed name has a Latin-1 byte. A name that
// does not would reach the store or the server as another name.
bool FitsLatin1(const QString& i_text);

// A chat line as both chat views show it: the name in blue between square
// brackets, a blank and the text, both escaped (markup is shown, never
// read), web addresses made links. The name is decoded as Latin-1 and the
// text as UTF-8.
QString ChatLineHtml(const std::string& i_user, const std::string& i_text);
// A line about the connection or the view itself: "* " and the message in
// green, escaped, web addresses made links.
QString StatusLineHtml(const QString& i_message);

// The browser hands a clicked link to the desktop's opener and stays on the
// chat: it never follows a link itself.
void SetUpChatView(QTextBrowser* ip_view);
