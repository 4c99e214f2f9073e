#include "database/mysql_errors.h"

#include <algorithm>
#include <iterator>

namespace {

// The numbers, with why each is worth a retry.
constexpr unsigned int kTransient[] = {
    2002,  // cannot connect through the local socket or pipe: no server there yet
    2003,  // cannot connect to the host: no server listening, or the network is away
    2005,  // unknown host: the name server or the network is away
    2006,  // the server has gone away: the connection was closed while idle
    2013,  // lost the connection during a statement, or the tunnel refused it
    2055,  // lost the connection, with the system's reason
    1053,  // the server is shutting down
    1077,  // normal shutdown
    1078,  // the server got a signal and is going down
    1079,  // shutdown complete
    1080,  // the server forces connections closed
    1040,  // too many connections: others will leave
    1205,  // a lock wait timed out: another transaction held the row
    1213,  // deadlock: the server rolled the statement back
    1045,  // login refused: waits for the user to correct the name or password
};

}  // namespace

bool IsTransientMySQLError(unsigned int number) {
  return std::find(std::begin(kTransient), std::end(kTransient), number) != std::end(kTransient);
}
