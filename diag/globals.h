#pragma once
// The one diagnostic call, and the start and end of the log client behind it.
#include <memory>
#include <string>
#include <string_view>

class LogPlatform;

// Sends "[gen_skorrel] " + text to the log client when there is one and it is enabled. Safe from
// any thread at any time, before start-up and after shut-down included; never fails.
void LogDebug(std::string_view text) noexcept;

// Where the dispatcher is told to route the lines: the viewer on host and a log file on drive.
std::string LogDestination(std::string_view host, std::string_view systemDrive);

// Creates the client and configures it from the CSDebug value: empty leaves logging off, with
// nothing searched, started or sent; a host name opens the connection at once, starting the
// dispatcher when needed. A client already there is replaced. Never fails: logging just stays off.
void StartLogClient(std::shared_ptr<LogPlatform> platform, std::string_view csDebug,
                    std::string_view systemDrive) noexcept;

// Destroys the client, which closes its connection once the last line in flight is sent. From
// then on LogDebug does nothing.
void StopLogClient() noexcept;
