#pragma once
// The relays that run, so that quit can end them: ending a relay shuts its connections down from
// the quitting thread, which makes every wait and receive on them return, and marks it ended, which
// cuts a connect it is waiting for. A relay that cannot be cut (one still in a name lookup) is left
// to finish on its own thread: its membership keeps the registry's state alive, and it ends at once
// when the lookup returns.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <list>
#include <memory>
#include <mutex>

#include "tunnel/socket_platform.h"

class RelayRegistry {
  struct Entry {
    socket_t local = kInvalidSocket;
    socket_t ssh = kInvalidSocket;
    bool ended = false;
  };
  struct State {
    std::mutex lock;
    std::condition_variable left;
    std::list<Entry> relays;
  };

 public:
  // One relay's place in the registry, from its creation to its destruction.
  class Membership {
   public:
    explicit Membership(RelayRegistry& registry);
    ~Membership();
    Membership(const Membership&) = delete;
    Membership& operator=(const Membership&) = delete;

    // The relay's connections as they are made; shut down at once once the relay is ended.
    void Watch(socket_t local, socket_t ssh);
    // Before the relay closes them itself.
    void Unwatch() { Watch(kInvalidSocket, kInvalidSocket); }
    // Whether quit has ended this relay: it is to stop what it does as soon as it can.
    bool Ended();

   private:
    std::shared_ptr<State> state_;
    std::list<Entry>::iterator entry_;
  };

  RelayRegistry() = default;
  RelayRegistry(const RelayRegistry&) = delete;
  RelayRegistry& operator=(const RelayRegistry&) = delete;

  // Ends every relay and waits until each has been destroyed, or until limit has passed; true when
  // none is left. Stop the listener first, so that no relay is made meanwhile.
  bool EndAll(std::chrono::milliseconds limit);
  std::size_t Count();

 private:
  static void ShutDown(const Entry& entry);

  std::shared_ptr<State> state_ = std::make_shared<State>();
};
