#include "database/mysql.h"

// A bare file name, so Windows' usual search order finds it.
Library LoadClientLibraryFile(const std::string& fileName) { return Library::Load(fileName); }
