// Windows sends a windowed program none of these signals: nothing to watch.
#include "app/quitsignals.h"

namespace qtr290 {

std::unique_ptr<QObject> WatchQuitRequests(std::function<void()>)
{
    return nullptr;
}

} // namespace qtr290
