#include "vellix/formats/random.h"

#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <random>

namespace vellix::formats {
namespace {

std::mt19937_64& Generator() {
  thread_local std::mt19937_64 generator(std::random_device{}());
  return generator;
}

}  // namespace

void SeedRandomFromClock() {
  // Mixed with the device's entropy so two shelves made in the same
  // clock tick still draw different names.
  auto ticks = std::chrono::high_resolution_clock::now().time_since_epoch().count();
  Generator().seed(static_cast<uint64_t>(ticks) ^ (uint64_t{std::random_device{}()} << 32));
}

void SeedRandom(unsigned long long seed) { Generator().seed(seed); }

double RandomUnit() { return std::uniform_real_distribution<double>(0.0, 1.0)(Generator()); }

char RandomCapital() {
  int k = static_cast<int>(RandomUnit() * 26);
  if (k > 25) k = 25;  // uniform_real_distribution may round up to 1.0
  return static_cast<char>('A' + k);
}

std::string NewGuidString() {
  unsigned char bytes[16];
  size_t got = 0;
  while (got < sizeof bytes) {
    ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      return "";
    }
    got += static_cast<size_t>(n);
  }
  // A version 4 GUID: Data1..Data3 print as numbers, the last eight bytes
  // in storage order; with random bits both read the same.
  bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
  bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned char b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
  }
  return text;
}

}  // namespace vellix::formats
