// The resampler's anti-alias and anti-image filter: one IIR section of five input and four
// feedback coefficients, run four times in cascade over interleaved float frames. The state of
// every stage carries over from one call to the next, so a signal filtered in blocks of any
// size gives the same samples as the signal filtered at once.
#pragma once
#include <cstdint>

// y[n] = A[0] x[n] + ... + A[4] x[n-4] + B[0] y[n-1] + ... + B[3] y[n-4], for every stage.
struct TCascadeCoefs {
  float A[5] = {};
  float B[4] = {};
};

// One channel's four stages, one stage per vector lane: X[k][s] is the input of stage s and
// Y[k][s] its output, 4 - k samples back. All zero at the start of a stream.
struct alignas(16) TCascadeState {
  float X[4][4] = {};
  float Y[4][4] = {};
};

// Filters Frames interleaved frames of Channels channels in place; States holds one state per
// channel. Allocates nothing.
// Threads: any; the caller owns Data and States for the call.
void FilterCascade(const TCascadeCoefs& K, float* Data, uint32_t Channels, uint32_t Frames, TCascadeState* States);
