#pragma once
// The tests' own way into the MariaDB server that with_servers.sh started: the real libmysql.dll of
// the build, through the plug-in's binding, so that what a test reads back passed through no
// protocol code of ours.
#include <string>
#include <vector>

#include "database/mysql.h"
#include "hex.h"

class ServerSql {
 public:
  // Connects as the plug-in's user to 127.0.0.1 on port; Error() says why when it could not.
  explicit ServerSql(const std::string& port);
  ~ServerSql();
  ServerSql(const ServerSql&) = delete;
  ServerSql& operator=(const ServerSql&) = delete;

  bool Connected() const { return handle_ != nullptr; }
  // Runs one statement and returns its rows, columns separated by tabs (NULL as "NULL"); false,
  // with the server's message in Error(), when the statement failed.
  bool Run(const std::string& sql, std::vector<std::string>* rows = nullptr);
  const std::string& Error() const { return error_; }

  // The first column of a one-row, one-column answer; empty when there is none.
  std::string Value(const std::string& sql);

 private:
  MySQLLibraryUse use_;
  MYSQL* handle_ = nullptr;
  std::string error_;
};

// The name of the client library file the build made, as a Windows path.
std::string BuiltClientLibrary();
