// Process-wide pseudo-random numbers, safe to draw from any thread (one lock around one engine,
// seeded from the clock at first use). Not for cryptography.
#pragma once

#include <cstdint>

// A number in lo..hi inclusive (lo when hi < lo).
int Random_Int(int lo, int hi);
// Restarts the sequence (tests).
void Random_Seed(uint32_t seed);
