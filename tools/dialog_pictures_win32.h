#pragma once
// Pictures of the plug-in's configuration dialog, taken by the stand-in player while the dialog's
// modal loop runs on the player's own thread.
#include <string>

// From the next turn of the message loop on: waits for this thread's dialog, shows each of its
// tabs in turn and saves the screen under the dialog's client area as prefixN.bmp (N = 1 for the first tab),
// then closes the dialog with its close box. report gets one line per picture.
void PictureDialogTabs(const std::string& prefix, void (*report)(const std::string& line));
