#pragma once
// Paths as the user types them into a setting: environment variables expanded when used, and the
// folders a file goes into made on demand; and the folder of the plug-in's own module, where the
// libraries it ships beside it are.
#include <string>

std::wstring ExpandedPath(const std::wstring& path);
// Creates every missing folder of path's parent.
void CreateParentFolders(const std::wstring& path);
// The folder of the module that holds this code, with its trailing backslash, in UTF-8; empty if
// unknown.
std::string OwnFolder();
