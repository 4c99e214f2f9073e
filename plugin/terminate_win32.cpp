// The C++ library's default handler for an exception nobody catches prints its type to stderr,
// which a player has not got, and brings a 45 KB name demangler for it. Defined here, the DLL's
// own handler ends the process as that one would, without them.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
