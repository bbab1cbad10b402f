#include "ui/frame/ProxyStyle.h"

#include <QApplication>
#include <QCheckBox>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QStyleFactory>
#include <QtTest>

#include <memory>

class TestProxyStyle : public QObject
{
    Q_OBJECT

private slots:
    void drawsLikeTheWrappedStyle_data();
    void drawsLikeTheWrappedStyle();
    void ownsTheWrappedStyle();
};

namespace {

// A few controls drawn with the style, side by side, as one image.
QImage Render(QStyle* ip_style)
{
    QWidget l_panel;
    l_panel.resize(300, 60);
    QPushButton l_button("Push", &l_panel);
    l_button.setGeometry(0, 0, 100, 30);
    QCheckBox l_box("Check", &l_panel);
    l_box.setGeometry(100, 0, 100, 30);
    l_box.setChecked(true);
    QSlider l_slider(Qt::Horizontal, &l_panel);
    l_slider.setGeometry(200, 0, 100, 30);
    l_slider.setValue(40);
    for (QWidget* lp_widget : std::initializer_list<QWidget*>{&l_panel, &l_button, &l_box, &l_slider})
        lp_widget->setStyle(ip_style);
    return l_panel.grab().toImage();
}

}  // namespace

void TestProxyStyle::drawsLikeTheWrappedStyle_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("drawsLike");
    for (const QString& l_key : QStyleFactory::keys())
        QTest::newRow(qPrintable(l_key)) << l_key << l_key;
    // No such style: the application's own.
    QTest::newRow("unknown") << "Plastique" << QApplication::style()->name();
}

void TestProxyStyle::drawsLikeTheWrappedStyle()
{
    QFETCH(QString, name);
    QFETCH(QString, drawsLike);
    ProxyStyle l_proxy(name);
    QVERIFY(l_proxy.baseStyle());
    QCOMPARE(l_proxy.baseStyle()->name().toLower(), drawsLike.toLower());
    std::unique_ptr<QStyle> lp_plain(QStyleFactory::create(drawsLike));
    QVERIFY(lp_plain);
    const QImage l_drawn = Render(&l_proxy);
    QCOMPARE(l_drawn, Render(lp_plain.get()));
    // Not merely alike: the other styles draw differently.
    for (const QString& l_other : QStyleFactory::keys()) {
        if (l_other.compare(drawsLike, Qt::CaseInsensitive) != 0) {
            std::unique_ptr<QStyle> lp_otherStyle(QStyleFactory::create(l_other));
            QVERIFY(l_drawn != Render(lp_otherStyle.get()));
        }
    }
    QCOMPARE(l_proxy.pixelMetric(QStyle::PM_ButtonMargin), lp_plain->pixelMetric(QStyle::PM_ButtonMargin));
    QCOMPARE(l_proxy.styleHint(QStyle::SH_Slider_AbsoluteSetButtons),
             lp_plain->styleHint(QStyle::SH_Slider_AbsoluteSetButtons));
}

void TestProxyStyle::ownsTheWrappedStyle()
{
    auto lp_proxy = std::make_unique<ProxyStyle>("Fusion");
    QPointer<QStyle> lp_wrapped = lp_proxy->baseStyle();
    QVERIFY(lp_wrapped);
    lp_proxy.reset();
    QVERIFY(lp_wrapped.isNull());
}

QTEST_MAIN(TestProxyStyle)
#include "tst_proxy_style.moc"
