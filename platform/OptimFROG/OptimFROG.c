/* Test double of "OptimFROG.dll": the interface the program calls, over the doubles' private
 * layout (platform/DoubleFormat.h). It decodes no real OptimFROG file. */
#include <stdlib.h>
#include <string.h>

#include "../DoubleCommon.h"
#include "audio/formats/optimfrog/OFRApi.h"

#define EXPORT __declspec(dllexport)

typedef struct instance {
  const ofr_read_interface* ri;
  void* user;
  double_header h;
  uint32_t frame;
  uint64_t pos;
  int open;
} instance;

EXPORT uint32_t OFR_CALL OptimFROG_getVersion(void) { return 5100; }

EXPORT void* OFR_CALL OptimFROG_createInstance(void) { return calloc(1, sizeof(instance)); }

EXPORT void OFR_CALL OptimFROG_destroyInstance(void* inst) { free(inst); }

EXPORT int32_t OFR_CALL OptimFROG_openExt(void* inst, const ofr_read_interface* ri, void* user, int32_t read_tags) {
  instance* i = (instance*)inst;
  dbl_log("openExt tags=%d", read_tags);
  if (!i || !ri) return 0;
  i->ri = ri;
  i->user = user;
  if (ri->read(user, &i->h, DOUBLE_HEADER_SIZE) != DOUBLE_HEADER_SIZE) return 0;
  i->frame = dbl_check_header(&i->h, DOUBLE_MAGIC_OFR);
  if (!i->frame) return 0;
  i->open = 1;
  return -1;
}

EXPORT int32_t OFR_CALL OptimFROG_open(void* inst, const char* file, int32_t read_tags) {
  (void)inst; (void)file; (void)read_tags;
  return 0;
}

EXPORT void OFR_CALL OptimFROG_close(void* inst) {
  if (inst) ((instance*)inst)->open = 0;
}

EXPORT int32_t OFR_CALL OptimFROG_readHead(void* inst, void* buffer, uint32_t size) { (void)inst; (void)buffer; (void)size; return -1; }
EXPORT int32_t OFR_CALL OptimFROG_readTail(void* inst, void* buffer, uint32_t size) { (void)inst; (void)buffer; (void)size; return -1; }

EXPORT int32_t OFR_CALL OptimFROG_seekable(void* inst) {
  instance* i = (instance*)inst;
  if (!i || !i->open) return 0;
  return !(i->h.flags & DOUBLE_FLAG_NOT_SEEKABLE) && i->ri->seekable(i->user) ? -1 : 0;
}

EXPORT int32_t OFR_CALL OptimFROG_seekPoint(void* inst, int64_t sample) {
  instance* i = (instance*)inst;
  dbl_log("seekPoint %lld", (long long)sample);
  if (!i || !i->open || sample < 0 || (uint64_t)sample > i->h.frames) return 0;
  if (!i->ri->seek(i->user, DOUBLE_HEADER_SIZE + sample * (int64_t)i->frame)) return 0;
  i->pos = (uint64_t)sample;
  return -1;
}

EXPORT int32_t OFR_CALL OptimFROG_seekTime(void* inst, int64_t ms) { (void)inst; (void)ms; return 0; }

EXPORT int64_t OFR_CALL OptimFROG_getPos(void* inst) { return inst ? (int64_t)((instance*)inst)->pos : -1; }

EXPORT int32_t OFR_CALL OptimFROG_recoverableErrors(void* inst) { (void)inst; return 0; }

EXPORT int32_t OFR_CALL OptimFROG_read(void* inst, void* buffer, uint32_t frames, int32_t max) {
  instance* i = (instance*)inst;
  uint64_t left;
  int32_t got;
  dbl_log("read %u", frames);
  (void)max;
  if (!i || !i->open || !buffer) return -1;
  left = i->h.frames - i->pos;
  if (frames > left) frames = (uint32_t)left;
  if (frames == 0) return 0;
  got = i->ri->read(i->user, buffer, frames * i->frame);
  if (got < 0) return -1;
  got /= (int32_t)i->frame;
  i->pos += (uint32_t)got;
  return got;
}

EXPORT int32_t OFR_CALL OptimFROG_getInfo(void* inst, ofr_info* info) {
  instance* i = (instance*)inst;
  if (!i || !i->open || !info) return 0;
  memset(info, 0, sizeof *info);
  info->channels = i->h.channels;
  info->sample_rate = i->h.sample_rate;
  info->bits_per_sample = i->h.bits;
  info->total_samples = (int64_t)i->h.frames;
  return -1;
}

EXPORT int32_t OFR_CALL OptimFROG_getTags(void* inst, void* tags) { (void)inst; (void)tags; return 0; }
EXPORT void OFR_CALL OptimFROG_freeTags(void* tags) { (void)tags; }
EXPORT int32_t OFR_CALL OptimFROG_decodeFile(const char* in, const char* out) { (void)in; (void)out; return 0; }
EXPORT int32_t OFR_CALL OptimFROG_infoFile(const char* file, ofr_info* info, void* tags) { (void)file; (void)info; (void)tags; return 0; }

/* For the tests: the calls made since the last copy, one per line. */
EXPORT int32_t OFR_CALL DoubleCallLog(char* buffer, int32_t size) { return dbl_log_copy(buffer, size); }
