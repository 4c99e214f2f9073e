#include "track/play_id.h"

#include <cstdint>
#include <random>

std::string NewPlayId() {
  // Seeded once per thread from the system's random source, which is too slow to ask per track.
  thread_local std::mt19937_64 random([] {
    std::random_device device;
    return (std::uint64_t{device()} << 32) ^ device();
  }());
  std::uint64_t high = random(), low = random();
  high = (high & ~std::uint64_t{0xF000}) | 0x4000;                       // version 4
  low = (low & ~(std::uint64_t{0xC} << 60)) | (std::uint64_t{8} << 60);  // variant 1
  static constexpr char kHex[] = "0123456789abcdef";
  std::string id;
  const auto put = [&](std::uint64_t value, int from, int to) {
    for (int shift = from; shift >= to; shift -= 4) id += kHex[(value >> shift) & 0xF];
  };
  put(high, 60, 32);
  id += '-';
  put(high, 28, 16);
  id += '-';
  put(high, 12, 0);
  id += '-';
  put(low, 60, 48);
  id += '-';
  put(low, 44, 0);
  return id;
}
