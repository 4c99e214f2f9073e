#include "database/query_failed_box.h"

#include <cstdio>

// No desktop to show a box on: the report goes to the error stream instead.
void ShowQueryFailedBox(const std::string& report) {
  std::fprintf(stderr, "%s: %s\n", kQueryFailedCaption, report.c_str());
}
