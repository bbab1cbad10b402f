#pragma once

#include <QObject>
#include <QTimer>

// Sends the enabled wish-list entries one after another as wish-list
// searches, one per tick of its own timer, whose interval the server sets.
class WishListSearcher : public QObject
{
    Q_OBJECT

public:
    // The timer does not run until the server sets the interval.
    explicit WishListSearcher(QObject* ip_parent);
    ~WishListSearcher() override;

    // (Re)starts the timer with the server's interval; 0 stops it.
    void SetInterval(unsigned int i_seconds);
    const QTimer& GetTimer() const { return m_timer; }

public slots:
    void OnTimer();

private:
    QTimer m_timer;
};

extern WishListSearcher* wishListSearcher;
