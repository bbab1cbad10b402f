#include "ui/social/SocialText.h"

#include "core/platform/DesktopOpener.h"
#include "core/util/GeneralFunctions.h"

#include <QTextBrowser>
#include <QUrl>

bool FitsLatin1(const QString& i_text)
{
    for (const QChar l_char : i_text) {
        if (l_char.unicode() > 0xFF)
            return false;
    }
    return true;
}

QString ChatLineHtml(const std::string& i_user, const std::string& i_text)
{
    const QString l_line = QStringLiteral("[<font color=\"blue\">") + EscapeHTML(FromLatin1Text(i_user)) +
                           QStringLiteral("</font>] ") +
                           EscapeHTML(QString::fromUtf8(i_text.data(), qsizetype(i_text.size())));
    return ConvertLinks(l_line);
}

QString StatusLineHtml(const QString& i_message)
{
    return ConvertLinks(QStringLiteral("* <font color=\"green\">") + EscapeHTML(i_message) +
                        QStringLiteral("</font>"));
}

void SetUpChatView(QTextBrowser* ip_view)
{
    ip_view->setOpenLinks(false);
    ip_view->setOpenExternalLinks(false);
    QObject::connect(ip_view, &QTextBrowser::anchorClicked, ip_view, [](const QUrl& i_url) {
        const QString l_scheme = i_url.scheme().toLower();
        if (l_scheme == QLatin1String("http") || l_scheme == QLatin1String("https"))
            OpenWithDesktop(i_url);
    });
}
