#pragma once
// Which cipher the tunnel asks for first. libssh2 runs chacha20-poly1305 in portable C whatever its
// crypto library, while its AES-GCM goes through OpenSSL onto AES-NI and PCLMUL where the
// processor has them: several times less work per byte on the relay's one thread.
#include <string>
#include <vector>

// The ciphers, best first, among those the library supports (in its own order otherwise), as the
// comma-separated list libssh2_session_method_pref takes. Empty when supported is.
std::string PreferredCiphers(std::vector<std::string> supported, bool aesInstructions);

// Whether this processor has the AES-NI and carry-less multiply instructions AES-GCM runs on.
bool ProcessorHasAesGcm();
