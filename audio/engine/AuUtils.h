// Procedures over sample buffers shared by the converters, meters and readers: integer PCM to
// and from 32-bit floats, channel folding, a complex FFT, a dot product, Chebyshev filter design,
// and the floating-point unit's precision. Counts are in samples unless said otherwise.
// Threads (every function): any, on buffers the caller owns for the call; no waits. The
// floating-point control word is the calling thread's own.
#pragma once
#include <cstdint>

#include "classlib/SysUtils.h"

struct _GUID;

// Integer PCM to floats: unsigned 8-bit (byte / 128 - 1), signed 16, 24 (3 bytes, little-endian)
// and 32 bits (value / 2^(bits-1)).
void PCM8ToSingle(const void* InBuf, float* OutBuf, int32_t Samples);
void PCM16ToSingle(const void* InBuf, float* OutBuf, int32_t Samples);
void PCM24ToSingle(const void* InBuf, float* OutBuf, int32_t Samples);
void PCM32ToSingle(const void* InBuf, float* OutBuf, int32_t Samples);

// Floats to integer PCM. 8 bits: 1.0 or more gives 255, -1.0 or less (or not a number) 0, else
// floor((x + 1) * 128). The wider ones clamp to [-1, 1] first (not a number becomes -1) and
// write the clamped values back into InBuf: 16 bits x * 32767 rounded to nearest, 24 bits
// x * 8388607 floored, 32 bits x * 2147483647 (in double) rounded to nearest.
void SingleToPCM8(const float* InBuf, void* OutBuf, int32_t Samples);
void SingleToPCM16(float* InBuf, void* OutBuf, int32_t Samples);
void SingleToPCM24(float* InBuf, void* OutBuf, int32_t Samples);
void SingleToPCM32(float* InBuf, void* OutBuf, int32_t Samples);

// In place, Bytes counts the float (or double) bytes: 1.0 or more gives 0x7FFFFFFF, -1.0 or
// less (or not a number) 0x80000000, else floor(x * 2147483647). Doubles leave their results
// in the first half of the buffer.
void SingleToInt32Samples(void* Buffer, int32_t Bytes);
void DoubleToInt32Samples(void* Buffer, int32_t Bytes);

// Each frame's two samples averaged into the first half of the buffer.
void StereoToMono(float* Buffer, int32_t Frames);
// In place: each of Frames samples written to both channels; the buffer holds 2 * Frames.
void MonoToStereo(float* Buffer, int32_t Frames);

// In-place complex FFT of N points (a power of two), interleaved real and imaginary parts;
// Direction 0 uses e^(-i...), Direction 1 the conjugate. No scaling.
void ComplexFFT(float* Data, int32_t N, int Direction);

// Sum += A[0] * B[0] + ... + A[Count - 1] * B[Count - 1].
void DotProduct(const float* A, const float* B, float& Sum, int32_t Count);

bool CompareGUIDs(const _GUID& A, const _GUID& B);

// Recursion coefficients of a Chebyshev filter of Poles poles (even, 2 to 20), designed as
// cascaded pole pairs with the bilinear transform. Cutoff is a fraction of the sample rate
// (below 0.5), Ripple a percentage (0: Butterworth). A and B hold Poles + 3 values each:
// y[n] = sum(k = 0..Poles) A[k] x[n-k] + sum(k = 1..Poles) B[k] y[n-k]; B[0] is 0. The gain is
// 1 at zero frequency (low-pass) or at half the sample rate (high-pass).
void DesignChebyshevFilter(int Poles, bool HighPass, double* A, double* B, double Cutoff, double Ripple);

// The part of S before / after the first C; without C all of S / the empty string.
AnsiString LeftOfChar(char C, const AnsiString& S);
AnsiString RightOfChar(char C, const AnsiString& S);

// Saves the x87 control word and sets single precision; RestoreFPUControlWord sets it back
// (per thread).
void SetSinglePrecisionFPU();
void RestoreFPUControlWord();
