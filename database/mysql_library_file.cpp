#include "database/mysql.h"

// The wrapper names the Windows file; here the system's client libraries stand in for it, MariaDB's
// Connector/C first.
Library LoadClientLibraryFile(const std::string&) {
  for (const char* file : {"libmariadb.so.3", "libmysqlclient.so.21"}) {
    if (Library library = Library::Load(file)) return library;
  }
  return Library();
}
