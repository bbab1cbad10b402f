#pragma once

#include <QProxyStyle>
#include <QString>

// A style that wraps another, chosen by name, and passes every style
// operation on to it unchanged. It owns the wrapped style. A name that no
// installed style has gives the application's own style instead.
class ProxyStyle : public QProxyStyle
{
public:
    explicit ProxyStyle(const QString& style);
};
