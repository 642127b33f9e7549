#include "audio/engine/FilterCascade.h"

#include <emmintrin.h>

#include <cstddef>

namespace {

struct TCascade {
  __m128 A[5], B[4];
};

// Lanes s for which stage s has a sample at step T of a block of L samples (0 <= T - s < L).
inline __m128 LaneMask(int T, int L) {
  alignas(16) uint32_t m[4];
  for (int s = 0; s < 4; ++s) m[s] = (T - s >= 0 && T - s < L) ? 0xFFFFFFFFu : 0u;
  return _mm_load_ps(reinterpret_cast<const float*>(m));
}

inline __m128 Blend(__m128 Mask, __m128 New, __m128 Old) {
  return _mm_or_ps(_mm_and_ps(Mask, New), _mm_andnot_ps(Mask, Old));
}

// The histories hold the last four inputs (X) and outputs (Y) of each stage, one stage per lane,
// oldest first: H[0] four samples back ... H[3] one sample back.
//
// One step of the four stages at once: stage 0 takes In, stage s the last output of stage s - 1.
// I1..I4 name the slots one to four samples back; the new values go to slot I4.
template <int I1, int I2, int I3, int I4>
inline __m128 StepAt(const TCascade& K, __m128* X, __m128* Y, float In, __m128& NewX) {
  NewX = _mm_move_ss(_mm_castsi128_ps(_mm_slli_si128(_mm_castps_si128(Y[I1]), 4)), _mm_set_ss(In));
  __m128 rest = _mm_add_ps(_mm_add_ps(_mm_mul_ps(K.A[1], X[I1]), _mm_mul_ps(K.A[2], X[I2])),
                           _mm_add_ps(_mm_mul_ps(K.A[3], X[I3]), _mm_mul_ps(K.A[4], X[I4])));
  rest = _mm_add_ps(rest, _mm_add_ps(_mm_mul_ps(K.B[1], Y[I2]), _mm_add_ps(_mm_mul_ps(K.B[2], Y[I3]),
                                                                           _mm_mul_ps(K.B[3], Y[I4]))));
  return _mm_add_ps(_mm_add_ps(rest, _mm_mul_ps(K.B[0], Y[I1])), _mm_mul_ps(K.A[0], NewX));
}

inline float Lane3(__m128 V) { return _mm_cvtss_f32(_mm_shuffle_ps(V, V, 0xFF)); }

// A step in the canonical slot order, updating only the lanes in Mask.
inline float MaskedStep(const TCascade& K, __m128* X, __m128* Y, float In, __m128 Mask) {
  __m128 x;
  __m128 y = StepAt<3, 2, 1, 0>(K, X, Y, In, x);
  X[0] = Blend(Mask, X[1], X[0]);
  X[1] = Blend(Mask, X[2], X[1]);
  X[2] = Blend(Mask, X[3], X[2]);
  X[3] = Blend(Mask, x, X[3]);
  Y[0] = Blend(Mask, Y[1], Y[0]);
  Y[1] = Blend(Mask, Y[2], Y[1]);
  Y[2] = Blend(Mask, Y[3], Y[2]);
  Y[3] = Blend(Mask, y, Y[3]);
  return Lane3(y);
}

// Step R of a group of four: the slot written is R, which ends the group in canonical order
// without moving any history.
template <int R>
inline float GroupStep(const TCascade& K, __m128* X, __m128* Y, float In) {
  __m128 x;
  __m128 y = StepAt<(R + 3) & 3, (R + 2) & 3, (R + 1) & 3, R>(K, X, Y, In, x);
  X[R] = x;
  Y[R] = y;
  return Lane3(y);
}

// Runs NC channels (starting at Data[0], frames Stride floats apart) through the cascade. The
// stages form a wavefront: at step t stage s filters sample t - s, so the four stages of one
// channel proceed together in one vector; the first and last three steps are masked. The
// output of step t (sample t - 3) replaces input t - 3, which has been read already.
template <int NC>
void RunCascade(const TCascade& K, float* Data, uint32_t Stride, int L, float (*State)[2][4][4]) {
  __m128 X[NC][4], Y[NC][4];
  for (int c = 0; c < NC; ++c)
    for (int k = 0; k < 4; ++k) {
      X[c][k] = _mm_loadu_ps(State[c][0][k]);
      Y[c][k] = _mm_loadu_ps(State[c][1][k]);
    }
  const int total = L + 3;
  auto masked = [&](int T, __m128 M) {
    for (int c = 0; c < NC; ++c) {
      float in = T < L ? Data[(size_t)T * Stride + c] : 0.0f;
      float out = MaskedStep(K, X[c], Y[c], in, M);
      if (T >= 3 && T - 3 < L) Data[(size_t)(T - 3) * Stride + c] = out;
    }
  };
  int t = 0;
  for (; t < 3 && t < total; ++t) masked(t, LaneMask(t, L));
  for (; t + 4 <= L; t += 4) {
    float* p = Data + (size_t)t * Stride;
    float* q = p - 3 * (size_t)Stride;
    for (int c = 0; c < NC; ++c) q[c] = GroupStep<0>(K, X[c], Y[c], p[c]);
    for (int c = 0; c < NC; ++c) q[Stride + c] = GroupStep<1>(K, X[c], Y[c], p[Stride + c]);
    for (int c = 0; c < NC; ++c) q[2 * Stride + c] = GroupStep<2>(K, X[c], Y[c], p[2 * Stride + c]);
    for (int c = 0; c < NC; ++c) q[3 * Stride + c] = GroupStep<3>(K, X[c], Y[c], p[3 * Stride + c]);
  }
  const __m128 all = _mm_castsi128_ps(_mm_set1_epi32(-1));
  for (; t < L; ++t) masked(t, all);
  for (; t < total; ++t) masked(t, LaneMask(t, L));
  for (int c = 0; c < NC; ++c)
    for (int k = 0; k < 4; ++k) {
      _mm_storeu_ps(State[c][0][k], X[c][k]);
      _mm_storeu_ps(State[c][1][k], Y[c][k]);
    }
}

}  // namespace

void FilterCascade(const TCascadeCoefs& Coefs, float* Data, uint32_t Channels, uint32_t Frames,
                   TCascadeState* States) {
  if (Frames == 0 || Channels == 0) return;
  TCascade k;
  for (int i = 0; i < 5; ++i) k.A[i] = _mm_set1_ps(Coefs.A[i]);
  for (int i = 0; i < 4; ++i) k.B[i] = _mm_set1_ps(Coefs.B[i]);
  static_assert(sizeof(TCascadeState) == sizeof(float[2][4][4]), "stage state layout");
  auto* states = reinterpret_cast<float(*)[2][4][4]>(States);
  uint32_t c = 0;
  for (; c + 2 <= Channels; c += 2) RunCascade<2>(k, Data + c, Channels, (int)Frames, states + c);
  if (c < Channels) RunCascade<1>(k, Data + c, Channels, (int)Frames, states + c);
}
