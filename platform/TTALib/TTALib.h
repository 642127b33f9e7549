// TTALib.dll: a True Audio (TTA1) encoder and decoder working on Windows file handles.
//
// Flat cdecl exports over opaque objects; nothing is thrown across this interface. A failed call
// returns its error value and leaves a message for *_GetError (or in the caller's buffer for
// the constructors). Objects are used by one thread at a time; separate objects are independent.
//
// Sample buffers: one 32-bit signed integer per sample for the integer format (8-bit samples
// signed, centred on 0; 24-bit sign-extended); for the float format (audio format 3, 32 bits)
// one 8-byte slot per sample whose first 4 bytes hold the IEEE float. Channels interleaved.
//
// The integer format is standard TTA1. The float format is our own lossless layout: the same
// header, seek table and frame lengths, each frame holding the raw 32-bit patterns followed by
// the frame's CRC32.
#pragma once
#include <stdint.h>

#ifdef TTALIB_BUILD
#define TTALIB_API __declspec(dllexport)
#else
#define TTALIB_API __declspec(dllimport)
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TTADecoderObj TTADecoderObj;
typedef struct TTAEncoderObj TTAEncoderObj;

// Reads the header and seek table at the handle's current position; the handle stays the
// caller's. Null on failure, with a message in Error (ErrorSize bytes, zero-terminated).
TTALIB_API TTADecoderObj* __cdecl TTADecoder_Create(void* FileHandle, char* Error, int ErrorSize);
TTALIB_API void __cdecl TTADecoder_Destroy(TTADecoderObj* D);
TTALIB_API int __cdecl TTADecoder_GetAudioFormat(TTADecoderObj* D);
TTALIB_API int __cdecl TTADecoder_GetNumChannels(TTADecoderObj* D);
TTALIB_API int __cdecl TTADecoder_GetBitsPerSample(TTADecoderObj* D);
TTALIB_API int __cdecl TTADecoder_GetSampleRate(TTADecoderObj* D);
// Sample frames in the file.
TTALIB_API int64_t __cdecl TTADecoder_GetDataLength(TTADecoderObj* D);
// Decodes the next frame of the file: the count of sample frames, 0 at the end, -1 on failure.
// *Buffer then points into the decoder's own memory, valid until the next call.
TTALIB_API int __cdecl TTADecoder_GetBlock(TTADecoderObj* D, void** Buffer);
// Positions the decoder at the TTA frame that holds SampleFrame (through the seek table):
// returns the first sample frame of that TTA frame, which the next GetBlock starts with; -1
// when SampleFrame lies past the end.
TTALIB_API int64_t __cdecl TTADecoder_Seek(TTADecoderObj* D, int64_t SampleFrame);
TTALIB_API const char* __cdecl TTADecoder_GetError(TTADecoderObj* D);

// Starts a file at the handle's current position (Append: at its end). AudioFormat 1 (PCM,
// 8, 16 or 24 bits) or 3 (IEEE float, 32 bits). DataLength is the expected count of sample
// frames, a hint only: the file gets the count actually compressed.
TTALIB_API TTAEncoderObj* __cdecl TTAEncoder_Create(void* FileHandle, int Append, int AudioFormat, int Channels,
                                                    int BitsPerSample, int SampleRate, uint32_t DataLength,
                                                    char* Error, int ErrorSize);
// Compresses Frames sample frames; 0 on failure (a failed write included).
TTALIB_API int __cdecl TTAEncoder_CompressBlock(TTAEncoderObj* E, const void* Buffer, int Frames);
// Writes the last frame, the header and the seek table, leaves the handle at the end of the
// audio data and frees the encoder. 0 when completing the file failed, with a message in Error
// (ErrorSize bytes, zero-terminated; may be null).
TTALIB_API int __cdecl TTAEncoder_Destroy(TTAEncoderObj* E, char* Error, int ErrorSize);
TTALIB_API const char* __cdecl TTAEncoder_GetError(TTAEncoderObj* E);

#ifdef __cplusplus
}
#endif
