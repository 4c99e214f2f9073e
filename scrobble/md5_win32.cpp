#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

#include <memory>
#include <stdexcept>
#include <vector>

#include "scrobble/md5.h"

namespace {

struct CloseAlgorithm {
  void operator()(BCRYPT_ALG_HANDLE h) const { BCryptCloseAlgorithmProvider(h, 0); }
};
struct DestroyHash {
  void operator()(BCRYPT_HASH_HANDLE h) const { BCryptDestroyHash(h); }
};

void Check(NTSTATUS status) {
  if (!BCRYPT_SUCCESS(status)) throw std::runtime_error("MD5 is not available");
}

}  // namespace

std::string Md5Hex(std::string_view data) {
  // Create, hash and finish, with the hash object's memory our own: Vista has no one-call hash.
  BCRYPT_ALG_HANDLE rawAlgorithm = nullptr;
  Check(BCryptOpenAlgorithmProvider(&rawAlgorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0));
  const std::unique_ptr<void, CloseAlgorithm> algorithm(rawAlgorithm);
  DWORD objectSize = 0, got = 0;
  Check(BCryptGetProperty(rawAlgorithm, BCRYPT_OBJECT_LENGTH, reinterpret_cast<PUCHAR>(&objectSize),
                          sizeof objectSize, &got, 0));
  std::vector<UCHAR> object(objectSize);
  BCRYPT_HASH_HANDLE rawHash = nullptr;
  Check(BCryptCreateHash(rawAlgorithm, &rawHash, object.data(), objectSize, nullptr, 0, 0));
  const std::unique_ptr<void, DestroyHash> hash(rawHash);
  Check(BCryptHashData(rawHash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                       static_cast<ULONG>(data.size()), 0));
  UCHAR digest[16];
  Check(BCryptFinishHash(rawHash, digest, sizeof digest, 0));
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (UCHAR byte : digest) {
    hex += kHex[byte >> 4];
    hex += kHex[byte & 15];
  }
  return hex;
}
