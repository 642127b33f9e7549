// IMA ADPCM as stored in WAVE files (format tag 0x11), one block at a time. Pure functions over
// caller-owned memory: nothing is allocated, no state outside the arguments.
//
// A block of BlockAlign bytes holds, per channel, a 4-byte header (the first sample as a signed
// 16-bit value, the step index, a zero byte), then 4-bit codes: mono two per byte, low nibble
// first; stereo in groups of 4 bytes per channel (8 samples), left group first.
#pragma once
#include <cstdint>

// The step sizes and the index changes of the 16 codes.
extern const int16_t ImaStepTable[89];
extern const int8_t ImaIndexTable[16];

// Samples per channel in a block of BlockAlign bytes (1 or 2 channels); 0 when the block is too
// small to hold the headers. A block suits mono from 4 bytes on, stereo from 8 in steps of 8.
uint32_t ImaSamplesPerBlock(uint32_t BlockAlign, uint32_t Channels);

// Decodes one block of 1 or 2 channels into ImaSamplesPerBlock(BlockAlign, Channels) frames of
// interleaved 16-bit samples at Out. A step index above 88 in a header counts as 88. Returns
// the frames written (0 when BlockAlign does not suit Channels).
// Threads: any.
uint32_t DecodeImaBlock(const uint8_t* Block, uint32_t BlockAlign, uint32_t Channels, int16_t* Out);

// Encodes ImaSamplesPerBlock(BlockAlign, Channels) frames of interleaved 16-bit samples from In
// into one block. StepIndex holds each channel's step index, carried from block to block (0 at
// the start of a stream); the predictor starts from each block's first sample. Returns false
// when BlockAlign does not suit Channels.
// Threads: any.
bool EncodeImaBlock(const int16_t* In, uint32_t BlockAlign, uint32_t Channels, uint8_t* StepIndex, uint8_t* Block);
