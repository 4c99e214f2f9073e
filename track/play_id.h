#pragma once
// A new identifier for one play of a track: a random UUID (version 4), so that plays of any
// session, player or machine never share one.
#include <string>

std::string NewPlayId();
