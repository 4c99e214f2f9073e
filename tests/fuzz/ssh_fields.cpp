// The SSH Server split and the channel destination of a tunnel target, against references written
// from their rules: a text of exactly two non-empty runs between colons is host and port, anything
// else is the host whole with port 22; a target of exactly two such runs stands as it is, an empty
// one stays empty, any other gets ":3306".
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "tunnel/thread_sshproxyclient.h"

namespace {

std::vector<std::string> Runs(const std::string& text) {
  std::vector<std::string> runs;
  std::size_t at = 0;
  while ((at = text.find_first_not_of(':', at)) != std::string::npos) {
    const std::size_t end = text.find(':', at);
    runs.push_back(text.substr(at, end - at));
    at = end;
  }
  return runs;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> runs = Runs(text);

  const SSHServerAddress split = SplitSSHServer(text);
  const std::string host = runs.size() == 2 ? runs[0] : text;
  const std::string port = runs.size() == 2 ? runs[1] : "22";
  if (split.host != host || split.port != port) std::abort();

  const std::string destination = text.empty() || runs.size() == 2 ? text : text + ":3306";
  if (ChannelDestination(text) != destination) std::abort();
  return 0;
}
