#pragma once
// The lock and condition that hand work from the player's window thread to a worker. Under Wine
// the C++ library's condition variable wakes its waiter through the Wine server, which costs the
// window thread tens of microseconds per track; Windows' own slim lock and condition variable wake
// without it.
#ifdef _WIN32
#include "runtime/sync_win32.h"
#else
#include <condition_variable>
#include <mutex>

using HandOffMutex = std::mutex;
using HandOffCondition = std::condition_variable;
#endif
