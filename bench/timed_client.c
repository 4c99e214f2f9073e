/* The client library's non-blocking connect hands the wait to us, so the greeting's arrival can be
   seen: the first time the socket turns readable. */
#include "timed_client.h"

#include <mysql.h>
#include <poll.h>
#include <stddef.h>
#include <time.h>

static double Now(void) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return (double)now.tv_sec + (double)now.tv_nsec * 1e-9;
}

int TimedConnectInsertClose(const char* host, const char* user, const char* password, unsigned port,
                            const char* statement, double* greetingAt, double* doneAt) {
  const double start = Now();
  *greetingAt = -1;
  MYSQL* mysql = mysql_init(NULL);
  if (!mysql) return 0;
  mysql_options(mysql, MYSQL_OPT_NONBLOCK, 0);
  MYSQL* connected = NULL;
  int status = mysql_real_connect_start(&connected, mysql, host, user, password, "", port, NULL, 0);
  while (status) {
    struct pollfd wait = {mysql_get_socket(mysql), 0, 0};
    if (status & MYSQL_WAIT_READ) wait.events |= POLLIN;
    if (status & MYSQL_WAIT_WRITE) wait.events |= POLLOUT;
    if (status & MYSQL_WAIT_EXCEPT) wait.events |= POLLPRI;
    const int timeout = (status & MYSQL_WAIT_TIMEOUT) ? (int)mysql_get_timeout_value_ms(mysql) : -1;
    const int n = poll(&wait, 1, timeout);
    int ready = 0;
    if (n == 0) ready = MYSQL_WAIT_TIMEOUT;
    if (n > 0 && (wait.revents & (POLLIN | POLLHUP | POLLERR))) ready |= MYSQL_WAIT_READ;
    if (n > 0 && (wait.revents & POLLOUT)) ready |= MYSQL_WAIT_WRITE;
    if (n > 0 && (wait.revents & POLLPRI)) ready |= MYSQL_WAIT_EXCEPT;
    if (*greetingAt < 0 && (ready & MYSQL_WAIT_READ)) *greetingAt = Now() - start;
    status = mysql_real_connect_cont(&connected, mysql, ready);
  }
  const int ok = connected == mysql && mysql_query(mysql, statement) == 0;
  mysql_close(mysql);
  *doneAt = Now() - start;
  return ok;
}
