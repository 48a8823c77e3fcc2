#include "random.h"

#include <chrono>
#include <random>

namespace vellix {
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

}  // namespace vellix
