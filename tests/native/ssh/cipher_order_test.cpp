#include "tunnel/cipher_order.h"

#include <gtest/gtest.h>

namespace {

TEST(CipherOrder, AesGcmLeadsOnAesNiChaChaElseAndTheRestKeepTheLibrarysOrder) {
  const std::vector<std::string> library = {"aes256-ctr", "chacha20-poly1305@openssh.com", "aes128-ctr",
                                            "aes256-gcm@openssh.com", "aes128-gcm@openssh.com"};
  const struct {
    std::vector<std::string> supported;
    bool aes;
    const char* expected;
  } cases[] = {
      {library, true,
       "aes128-gcm@openssh.com,aes256-gcm@openssh.com,chacha20-poly1305@openssh.com,aes256-ctr,aes128-ctr"},
      {library, false,
       "chacha20-poly1305@openssh.com,aes128-gcm@openssh.com,aes256-gcm@openssh.com,aes256-ctr,aes128-ctr"},
      // A library without either (libssh2 before 1.11) keeps its own order.
      {{"aes256-ctr", "aes128-cbc"}, true, "aes256-ctr,aes128-cbc"},
      {{}, true, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(PreferredCiphers(c.supported, c.aes), c.expected);
}

}  // namespace
