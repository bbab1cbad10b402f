#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QThread>

#include <algorithm>
#include <utility>

// The application (QCoreApplication or QApplication), timing every event it
// delivers on the GUI thread: the longest one is the longest the GUI thread
// was held by anything, slices or not.
template <class Base>
class TimedApplication : public Base
{
public:
    using Base::Base;

    bool notify(QObject* ip_receiver, QEvent* ip_event) override
    {
        // Other threads' events (a walker's) hold no GUI.
        if (QThread::currentThread() != this->thread())
            return Base::notify(ip_receiver, ip_event);
        if (m_depth++ > 0) {
            const bool l_result = Base::notify(ip_receiver, ip_event);
            --m_depth;
            return l_result;
        }
        QElapsedTimer l_clock;
        l_clock.start();
        const bool l_result = Base::notify(ip_receiver, ip_event);
        m_longestNs = std::max(m_longestNs, l_clock.nsecsElapsed());
        --m_depth;
        return l_result;
    }

    qint64 TakeLongestNs() { return std::exchange(m_longestNs, 0); }

private:
    int m_depth = 0;
    qint64 m_longestNs = 0;
};
