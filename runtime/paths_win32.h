#pragma once
// Paths as the user types them into a setting: environment variables expanded when used, and the
// folders a file goes into made on demand.
#include <string>

std::wstring ExpandedPath(const std::wstring& path);
// Creates every missing folder of path's parent.
void CreateParentFolders(const std::wstring& path);
