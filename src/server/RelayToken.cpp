#include "server/RelayToken.h"

#include <QRandomGenerator>

quint32 RelayToken::Draw(const InUse& i_inUse, const Source& i_source)
{
    // The tokens in use are a few among four billion: a candidate is taken
    // at once nearly always.
    for (;;) {
        const quint32 l_token = i_source ? i_source() : QRandomGenerator::system()->generate();
        if (l_token != 0 && !(i_inUse && i_inUse(l_token)))
            return l_token;
    }
}
