#include "runtime/open_file.h"
#include "runtime/unicode_win32.h"

std::FILE* OpenForReading(const std::string& path) { return _wfopen(Wide(path).c_str(), L"rb"); }
