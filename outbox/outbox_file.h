#pragma once
// Where the outbox's file is: the setting as typed becomes a path SQLite opens (UTF-8), with the
// folder it goes into made. On Windows environment variables such as %APPDATA% are expanded.
#include <string>

std::string OutboxFile(const std::string& setting);
