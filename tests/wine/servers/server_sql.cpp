#include "wine/servers/server_sql.h"

#include <cstdlib>

#include "wine/wine_support.h"

std::string BuiltClientLibrary() { return wine::WindowsPath(SKORREL_WINDOWS_LIBS_DIR) + "\\libmysql.dll"; }

ServerSql::ServerSql(const std::string& port) {
  if (!LoadMySQLLibrary(BuiltClientLibrary())) {
    error_ = "cannot load " + BuiltClientLibrary();
    return;
  }
  const MySQLEntries& mysql = MySQL();
  handle_ = mysql.mysql_init(nullptr);
  if (!handle_) {
    error_ = "mysql_init failed";
  } else if (!mysql.mysql_real_connect(handle_, "127.0.0.1", "winamp", "pw", "",
                                       static_cast<unsigned>(std::strtoul(port.c_str(), nullptr, 10)),
                                       nullptr, 0)) {
    error_ = mysql.mysql_error(handle_);
    mysql.mysql_close(handle_);
    handle_ = nullptr;
  }
}

ServerSql::~ServerSql() {
  if (handle_) MySQL().mysql_close(handle_);
  EndMySQLThread();
}

bool ServerSql::Run(const std::string& sql, std::vector<std::string>* rows) {
  if (!handle_) return false;
  const MySQLEntries& mysql = MySQL();
  if (mysql.mysql_query(handle_, sql.c_str()) != 0) {
    error_ = mysql.mysql_error(handle_);
    return false;
  }
  MYSQL_RES* result = mysql.mysql_store_result(handle_);
  if (!result) return true;
  const unsigned columns = mysql.mysql_num_fields(result);
  while (MYSQL_ROW row = mysql.mysql_fetch_row(result)) {
    std::string line;
    for (unsigned i = 0; i < columns; ++i) line += (i ? "\t" : "") + std::string(row[i] ? row[i] : "NULL");
    if (rows) rows->push_back(line);
  }
  mysql.mysql_free_result(result);
  return true;
}

std::string ServerSql::Value(const std::string& sql) {
  std::vector<std::string> rows;
  return Run(sql, &rows) && rows.size() == 1 ? rows[0] : std::string();
}
