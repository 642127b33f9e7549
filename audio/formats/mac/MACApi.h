/* The C interface of "MACDll.dll" as the program calls it: the standard calling convention,
 * handles as pointer-sized integers (32 bits in a 32-bit process, 64 in a 64-bit one), results
 * 0 = ok. Shared by the binding (audio/formats/mac/MACDll) and the test
 * double. */
#ifndef SAMPLEMORPH_MACAPI_H
#define SAMPLEMORPH_MACAPI_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define MAC_CALL __stdcall

/* A compressor or decompressor of the library; 0 is none. */
typedef intptr_t mac_handle;

/* The wave format record (the system's WAVEFORMATEX, packed to 2 bytes). */
#pragma pack(push, 2)
typedef struct mac_wave_format {
  uint16_t format_tag;
  uint16_t channels;
  uint32_t samples_per_sec;
  uint32_t avg_bytes_per_sec;
  uint16_t block_align;
  uint16_t bits_per_sample;
  uint16_t extra_size;
} mac_wave_format;
#pragma pack(pop)

/* GetInfo fields. */
enum {
  MAC_INFO_SAMPLE_RATE = 1003,
  MAC_INFO_BITS_PER_SAMPLE = 1004,
  MAC_INFO_CHANNELS = 1006,
  MAC_INFO_DECOMPRESSED_BYTES = 1014,
  MAC_INFO_LENGTH_MS = 2003,
  MAC_INFO_CURRENT_BITRATE = 2004
};

/* The 128-byte record of GetID3Tag. */
#pragma pack(push, 1)
typedef struct mac_id3_record {
  char header[3];
  char title[30];
  char artist[30];
  char album[30];
  char year[4];
  char comment[30]; /* in the 1.1 layout: 28 bytes, a zero, then the track */
  unsigned char genre;
} mac_id3_record;
#pragma pack(pop)

typedef mac_handle(MAC_CALL* c_APECompress_Create_t)(int32_t* error);
typedef int32_t(MAC_CALL* c_APECompress_Start_t)(mac_handle handle, const char* file, const mac_wave_format* format,
                                                 int32_t max_audio_bytes, int32_t level, const void* header,
                                                 int32_t header_bytes);
typedef unsigned char*(MAC_CALL* c_APECompress_LockBuffer_t)(mac_handle handle, int32_t* bytes_available);
typedef int32_t(MAC_CALL* c_APECompress_UnlockBuffer_t)(mac_handle handle, int32_t bytes, int32_t process);
typedef int32_t(MAC_CALL* c_APECompress_Finish_t)(mac_handle handle, unsigned char* terminating, int32_t bytes,
                                                  int32_t wav_bytes);
typedef void(MAC_CALL* c_APECompress_Destroy_t)(mac_handle handle);
typedef mac_handle(MAC_CALL* c_APEDecompress_CreateW_t)(const wchar_t* file, int32_t* error);
typedef void(MAC_CALL* c_APEDecompress_Destroy_t)(mac_handle handle);
typedef int32_t(MAC_CALL* c_APEDecompress_GetData_t)(mac_handle handle, char* buffer, int32_t blocks, int32_t* retrieved);
typedef intptr_t(MAC_CALL* c_APEDecompress_GetInfo_t)(mac_handle handle, int32_t field, intptr_t p1, intptr_t p2);
typedef int32_t(MAC_CALL* c_APEDecompress_Seek_t)(mac_handle handle, int32_t block);
typedef int32_t(MAC_CALL* FillWaveFormatEx_t)(mac_wave_format* format, int32_t rate, int32_t bits, int32_t channels);
typedef int32_t(MAC_CALL* GetID3Tag_t)(const char* file, mac_id3_record* record);
typedef int32_t(MAC_CALL* TagFileSimple_t)(const char* file, const char* artist, const char* album, const char* title,
                                           const char* comment, const char* genre, const char* year,
                                           const char* track, int32_t clear_first, int32_t use_id3);

#ifdef __cplusplus
}
static_assert(sizeof(mac_id3_record) == 128, "mac_id3_record");
static_assert(sizeof(mac_wave_format) == 18, "mac_wave_format");
static_assert(sizeof(mac_handle) == sizeof(void*), "a handle holds a pointer");
#endif
#endif
