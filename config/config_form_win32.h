#pragma once
// The configuration dialog's window: a fixed-size tabbed dialog, its controls created in code at
// the positions of the layout, shown modally over the player's main window.
#include <windows.h>

#include <memory>

#include "config/config_form.h"

std::unique_ptr<ConfigDialog> MakeConfigForm(HINSTANCE instance, HWND parent, SettingsEditor& editor);
