#pragma once
// The relays that run, so that quit can end them all and wait for them: no relay outlives the
// plug-in, and libssh2 is ended only after the last session is freed. Ending a relay shuts its
// connections down from the quitting thread, which makes every wait and receive on them return.
#include <condition_variable>
#include <cstddef>
#include <list>
#include <mutex>

#include "tunnel/socket_platform.h"

class RelayRegistry {
  struct Sockets {
    socket_t local = kInvalidSocket;
    socket_t ssh = kInvalidSocket;
  };

 public:
  // One relay's place in the registry, from its creation to its destruction.
  class Membership {
   public:
    explicit Membership(RelayRegistry& registry);
    ~Membership();
    Membership(const Membership&) = delete;
    Membership& operator=(const Membership&) = delete;

    // The relay's connections as they are made; shut down at once when the registry is ending.
    void Watch(socket_t local, socket_t ssh);
    // Before the relay closes them itself.
    void Unwatch() { Watch(kInvalidSocket, kInvalidSocket); }

   private:
    RelayRegistry& registry_;
    std::list<Sockets>::iterator entry_;
  };

  RelayRegistry() = default;
  RelayRegistry(const RelayRegistry&) = delete;
  RelayRegistry& operator=(const RelayRegistry&) = delete;

  // Shuts every relay's connections down and returns once every relay has been destroyed. Stop the
  // listener first, so that no relay is made meanwhile.
  void EndAll();
  std::size_t Count();

 private:
  static void ShutDown(const Sockets& sockets);

  std::mutex lock_;
  std::condition_variable left_;
  std::list<Sockets> relays_;
  bool ending_ = false;
};
