// The suite's one pseudo-random generator (random book and resource
// names), and GUIDs. The bookshelf seeds the generator from the clock when
// it is created.
#pragma once

#include <string>

namespace vellix::formats {

void SeedRandomFromClock();
// A fixed seed, so tests can replay a sequence of names.
void SeedRandom(unsigned long long seed);
// Uniform in [0, 1).
double RandomUnit();
// A capital letter "A".."Z", each with equal chance.
char RandomCapital();

// A new GUID as 32 upper-case hexadecimal digits (no braces, no hyphens),
// from the operating system's random bits; "" when it cannot supply them.
std::string NewGuidString();

}  // namespace vellix::formats
