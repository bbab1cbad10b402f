#include "core/platform/RandomSource.h"

#include <QMutex>
#include <QMutexLocker>

#include <ctime>
#include <random>

namespace
{
struct RandomState
{
    QMutex m_mutex;
    RandomSource m_source;
    bool m_seeded = false;
    std::mt19937 m_generator;
};

RandomState& State()
{
    static RandomState s_state;
    return s_state;
}
}

quint32 NextRandom()
{
    RandomState& l_state = State();
    QMutexLocker l_lock(&l_state.m_mutex);
    if (l_state.m_source) {
        // Copy, so a source that replaces itself does not pull the rug away.
        const RandomSource l_source = l_state.m_source;
        l_lock.unlock();
        return l_source();
    }
    if (!l_state.m_seeded) {
        l_state.m_generator.seed(static_cast<std::mt19937::result_type>(std::time(nullptr)));
        l_state.m_seeded = true;
    }
    return static_cast<quint32>(l_state.m_generator());
}

void SetRandomSource(RandomSource i_source)
{
    RandomState& l_state = State();
    QMutexLocker l_lock(&l_state.m_mutex);
    l_state.m_source = std::move(i_source);
}
