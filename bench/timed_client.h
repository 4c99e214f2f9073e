#pragma once
/* One connect, one statement and close through the client library, timed in two parts: until the
   server's greeting arrives, which is when a tunnel's session and channel stand, and the rest
   (login, the statement, the close). Seconds from the call's start; 1 on success. */
#ifdef __cplusplus
extern "C" {
#endif
int TimedConnectInsertClose(const char* host, const char* user, const char* password, unsigned port,
                            const char* statement, double* greetingAt, double* doneAt);
#ifdef __cplusplus
}
#endif
