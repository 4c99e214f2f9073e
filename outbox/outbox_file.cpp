#include "outbox/outbox_file.h"

#include <filesystem>
#include <system_error>

std::string OutboxFile(const std::string& setting) {
  std::error_code ignored;
  std::filesystem::create_directories(std::filesystem::path(setting).parent_path(), ignored);
  return setting;
}
