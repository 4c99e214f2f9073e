#pragma once
// The one diagnostic call. Safe from any thread at any time; never fails.
#include <string_view>

void LogDebug(std::string_view text);
