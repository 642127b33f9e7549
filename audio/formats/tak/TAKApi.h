/* The C interface of "tak_deco_lib.dll" as the program calls it: the standard calling convention
 * for functions and callbacks, 32-bit Booleans (1 true, 0 false), results 0 = ok. Shared by the
 * binding (audio/formats/tak/tak_decoder) and the test double. */
#ifndef SAMPLEMORPH_TAKAPI_H
#define SAMPLEMORPH_TAKAPI_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define TAK_CALL __stdcall

/* The program's byte source; each callback gets `user` first. */
typedef struct tak_stream_ioif {
  int32_t(TAK_CALL* can_read)(void* user);
  int32_t(TAK_CALL* can_write)(void* user);
  int32_t(TAK_CALL* can_seek)(void* user);
  int32_t(TAK_CALL* read)(void* user, void* buffer, int32_t count, int32_t* read);
  int32_t(TAK_CALL* write)(void* user, const void* buffer, int32_t count);
  int32_t(TAK_CALL* flush)(void* user);
  int32_t(TAK_CALL* truncate)(void* user);
  int32_t(TAK_CALL* seek)(void* user, int64_t pos);
  int32_t(TAK_CALL* get_length)(void* user, int64_t* length);
} tak_stream_ioif;

typedef struct tak_ssd_options {
  int32_t cpu;
  int32_t flags;
} tak_ssd_options;

typedef struct tak_stream_info {
  int32_t codec;
  int32_t profile;
  int32_t bits_per_sample;
  int32_t sample_rate;
  int32_t channels;
  int32_t sample_num;
  int32_t frame_size;
  int32_t reserved[9];
} tak_stream_info;

typedef void(TAK_CALL* tak_damage_callback)(void* user, void* damage);

typedef void*(TAK_CALL* tak_SSD_Create_FromStream_t)(const tak_stream_ioif* io, void* user,
                                                     const tak_ssd_options* options,
                                                     tak_damage_callback damage, void* damage_user);
typedef void(TAK_CALL* tak_SSD_Destroy_t)(void* decoder);
typedef int32_t(TAK_CALL* tak_SSD_GetStreamInfo_t)(void* decoder, tak_stream_info* info);
typedef int32_t(TAK_CALL* tak_SSD_Seek_t)(void* decoder, int64_t sample);
typedef int32_t(TAK_CALL* tak_SSD_ReadAudio_t)(void* decoder, void* buffer, int32_t frames, int32_t* read);
typedef void*(TAK_CALL* tak_SSD_GetAPEv2Tag_t)(void* decoder);
typedef int32_t(TAK_CALL* tak_APE_Valid_t)(void* tag);
typedef int32_t(TAK_CALL* tak_APE_GetIndexOfKey_t)(void* tag, const char* key, int32_t* index);
typedef int32_t(TAK_CALL* tak_APE_GetItemValue_t)(void* tag, int32_t index, void* buffer, int32_t max,
                                                  int32_t* size);

#ifdef __cplusplus
}
#endif
#endif
