// The library's one pseudo-random generator (random book and resource
// names). The bookshelf seeds it from the clock when it is created.
#pragma once

namespace vellix {

void SeedRandomFromClock();
// A fixed seed, so tests can replay a sequence of names.
void SeedRandom(unsigned long long seed);
// Uniform in [0, 1).
double RandomUnit();
// A capital letter "A".."Z", each with equal chance.
char RandomCapital();

}  // namespace vellix
