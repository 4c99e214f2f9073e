#pragma once
// The modal error box of a statement the server rejected. It blocks only the calling thread, until
// the user closes it.
#include <functional>
#include <string>

// The caption the box carries.
inline constexpr const char* kQueryFailedCaption = "Query failed";

// The platform's box: an owner-less error box with an OK button on Windows.
void ShowQueryFailedBox(const std::string& report);

// Where a wrapper shows the box; tests record instead.
using QueryFailedBox = std::function<void(const std::string& report)>;
