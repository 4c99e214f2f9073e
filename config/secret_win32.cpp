#include <windows.h>

#include "config/secret.h"
// After windows.h, which it needs.
#include <dpapi.h>

#include <limits>

#include "runtime/handle.h"

namespace {

// What CryptProtectData and CryptUnprotectData hand back is LocalAlloc'ed and ours to free.
void FreeLocal(BYTE* data) noexcept { LocalFree(data); }
using unique_local_bytes = unique_handle<handle_traits<BYTE*, &FreeLocal>>;

std::optional<DATA_BLOB> BlobOf(std::string_view bytes) {
  if (bytes.size() > std::numeric_limits<DWORD>::max()) return std::nullopt;
  return DATA_BLOB{static_cast<DWORD>(bytes.size()),
                   reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

std::string Taken(const DATA_BLOB& out) {
  const unique_local_bytes owned(out.pbData);
  return std::string(reinterpret_cast<const char*>(out.pbData), out.cbData);
}

}  // namespace

// Both bound to the current user's logon, and never a prompt inside the player. No description is
// given: DPAPI stores it in the blob unencrypted.
std::optional<std::string> ProtectSecret(std::string_view text, std::string_view entropy) {
  std::optional<DATA_BLOB> in = BlobOf(text), salt = BlobOf(entropy);
  DATA_BLOB out{};
  if (!in || !salt ||
      !CryptProtectData(&*in, nullptr, &*salt, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return std::nullopt;
  return Taken(out);
}

std::optional<std::string> UnprotectSecret(std::string_view blob, std::string_view entropy) {
  std::optional<DATA_BLOB> in = BlobOf(blob), salt = BlobOf(entropy);
  DATA_BLOB out{};
  if (!in || !salt ||
      !CryptUnprotectData(&*in, nullptr, &*salt, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out))
    return std::nullopt;
  return Taken(out);
}
