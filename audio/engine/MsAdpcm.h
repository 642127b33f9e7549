// Microsoft ADPCM as stored in WAVE files (format tag 2), one block at a time. Pure functions
// over caller-owned memory.
//
// A block holds per channel a predictor number (bytes 0..Channels-1), then per channel the
// delta, the newer and the older of two starting samples (signed 16-bit each); then 4-bit codes,
// high nibble first, channels alternating.
#pragma once
#include <cstdint>

// Decodes one block of 1 or 2 channels into SamplesPerBlock frames of interleaved 16-bit samples
// at Out. Coefs holds CoefPairs predictor pairs (two values each). The caller has checked that
// the block holds SamplesPerBlock frames: 7 * Channels header bytes and (SamplesPerBlock - 2) *
// Channels codes. Returns the frames written, 0 when a block names a predictor Coefs lacks (the
// data is damaged). The delta stays bounded, so damaged blocks cannot overflow the prediction.
// Threads: any.
uint32_t DecodeMsAdpcmBlock(const uint8_t* Block, uint32_t Channels, uint32_t SamplesPerBlock, const int16_t* Coefs,
                            uint32_t CoefPairs, int16_t* Out);
