#pragma once
/* Connects, runs one statement and closes; 1 on success. With an option group the library reads
   that group of its option files first, as the plug-in has it do. */
#ifdef __cplusplus
extern "C" {
#endif
int BareConnectInsertClose(const char* host, const char* user, const char* password, unsigned port,
                           const char* optionGroup, const char* statement);
#ifdef __cplusplus
}
#endif
