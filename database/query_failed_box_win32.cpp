#include <windows.h>

#include "database/query_failed_box.h"

void ShowQueryFailedBox(const std::string& report) {
  MessageBoxA(nullptr, report.c_str(), kQueryFailedCaption, MB_ICONERROR | MB_OK);
}
