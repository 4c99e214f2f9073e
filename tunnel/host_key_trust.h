#pragma once
// Trust on first use for the SSH server's host key: the first key met is pinned, every later one is
// compared with it before anything is sent. The pin belongs to the settings, not to the tunnel, so
// the tunnel sees it only through this interface, handed to each relay. One decision at a time,
// across all relays: two that meet a server for the first time at once pin one key between them.
#include <string>

class HostKeyTrust {
 public:
  // Forgotten: the pin was emptied after this relay's settings were made, so it may not pin what
  // it meets (it may be talking to the server the user just moved away from).
  enum class Verdict { Pinned, Matches, Mismatch, Forgotten };
  struct Answer {
    Verdict verdict;
    // The key pinned before the check: empty for Pinned, the key to compare with for Mismatch.
    std::string pinned;
  };

  virtual ~HostKeyTrust() = default;
  // The pinned key, "<type> SHA256:<base64>", or empty when none is pinned.
  virtual std::string Pinned() = 0;
  // Compares the offered key with the pin, pinning it when there is none.
  virtual Answer Check(const std::string& offered) = 0;
  // Keeps what a refused connection offered, so that someone can see it without a log viewer.
  virtual void Refused(const std::string& offered) = 0;
};

// The key's type name as the pin and the log spell it: the first word of the pin.
inline std::string HostKeyType(const std::string& key) { return key.substr(0, key.find(' ')); }
