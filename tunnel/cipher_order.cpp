#include "tunnel/cipher_order.h"

#include <algorithm>
#include <iterator>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace {

// OpenSSH's own order between the two key sizes: AES-128 does fewer rounds for the same data.
const char* const kAesGcm[] = {"aes128-gcm@openssh.com", "aes256-gcm@openssh.com"};
const char* const kChaCha = "chacha20-poly1305@openssh.com";

}  // namespace

std::string PreferredCiphers(std::vector<std::string> supported, bool aesInstructions) {
  std::vector<std::string> first;
  if (!aesInstructions) first.push_back(kChaCha);
  first.insert(first.end(), std::begin(kAesGcm), std::end(kAesGcm));
  if (aesInstructions) first.push_back(kChaCha);
  const auto rank = [&](const std::string& cipher) {
    return std::find(first.begin(), first.end(), cipher) - first.begin();
  };
  std::stable_sort(supported.begin(), supported.end(),
                   [&](const std::string& a, const std::string& b) { return rank(a) < rank(b); });
  std::string list;
  for (const std::string& cipher : supported) list += (list.empty() ? "" : ",") + cipher;
  return list;
}

bool ProcessorHasAesGcm() {
#if defined(__x86_64__) || defined(__i386__)
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  return (ecx & bit_AES) && (ecx & bit_PCLMUL);
#else
  return false;
#endif
}
