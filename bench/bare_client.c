/* The bare client: what any C program does to store one row, straight through the library. */
#include "bare_client.h"

#include <mysql.h>
#include <stddef.h>

int BareConnectInsertClose(const char* host, const char* user, const char* password, unsigned port,
                           const char* optionGroup, const char* statement) {
  MYSQL* mysql = mysql_init(NULL);
  if (!mysql) return 0;
  if (optionGroup) mysql_options(mysql, MYSQL_READ_DEFAULT_GROUP, optionGroup);
  const int ok = mysql_real_connect(mysql, host, user, password, "", port, NULL, 0) == mysql &&
                 mysql_query(mysql, statement) == 0;
  mysql_close(mysql);
  return ok;
}
