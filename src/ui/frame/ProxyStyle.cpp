#include "ui/frame/ProxyStyle.h"

#include <QApplication>
#include <QStyleFactory>

namespace {

QStyle* CreateStyle(const QString& i_name)
{
    if (QStyle* lp_style = QStyleFactory::create(i_name))
        return lp_style;
    if (QApplication::style())
        if (QStyle* lp_style = QStyleFactory::create(QApplication::style()->name()))
            return lp_style;
    return QStyleFactory::create(QStringLiteral("Fusion"));
}

}  // namespace

ProxyStyle::ProxyStyle(const QString& style) : QProxyStyle(CreateStyle(style))
{
}
