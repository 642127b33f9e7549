/* The C interface of "OptimFROG.dll" as the program calls it: the C calling convention,
 * Booleans 0 (false) or -1 (true). Shared by the binding (audio/formats/optimfrog/OptimFROGDLL) and the test double. */
#ifndef SAMPLEMORPH_OFRAPI_H
#define SAMPLEMORPH_OFRAPI_H
#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define OFR_CALL __cdecl

/* The program's byte source, handed to OptimFROG_openExt; each callback gets `user` first. */
typedef struct ofr_read_interface {
  int32_t(OFR_CALL* close)(void* user);
  int32_t(OFR_CALL* read)(void* user, void* buffer, uint32_t count);
  int32_t(OFR_CALL* eof)(void* user);
  int32_t(OFR_CALL* seekable)(void* user);
  int64_t(OFR_CALL* length)(void* user);
  int64_t(OFR_CALL* get_pos)(void* user);
  int32_t(OFR_CALL* seek)(void* user, int64_t pos);
} ofr_read_interface;

/* The information record: 68 bytes; the program reads the four named fields. */
#pragma pack(push, 4)
typedef struct ofr_info {
  uint32_t channels;
  uint32_t sample_rate;
  uint32_t bits_per_sample;
  uint32_t reserved1[4];
  int64_t total_samples; /* at byte 28 */
  uint32_t reserved2[8];
} ofr_info;
#pragma pack(pop)

typedef uint32_t(OFR_CALL* OptimFROG_getVersion_t)(void);
typedef void*(OFR_CALL* OptimFROG_createInstance_t)(void);
typedef void(OFR_CALL* OptimFROG_destroyInstance_t)(void* instance);
typedef int32_t(OFR_CALL* OptimFROG_openExt_t)(void* instance, const ofr_read_interface* ri, void* user,
                                               int32_t read_tags);
typedef int32_t(OFR_CALL* OptimFROG_seekable_t)(void* instance);
typedef int32_t(OFR_CALL* OptimFROG_seekPoint_t)(void* instance, int64_t sample);
typedef int32_t(OFR_CALL* OptimFROG_getInfo_t)(void* instance, ofr_info* info);
typedef int32_t(OFR_CALL* OptimFROG_read_t)(void* instance, void* buffer, uint32_t frames, int32_t max);
typedef void(OFR_CALL* OptimFROG_freeTags_t)(void* tags);

#ifdef __cplusplus
}
static_assert(sizeof(ofr_info) == 68, "ofr_info");
static_assert(offsetof(ofr_info, total_samples) == 28, "ofr_info.total_samples");
#endif
#endif
