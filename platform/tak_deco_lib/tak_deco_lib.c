/* Test double of "tak_deco_lib.dll": the interface the program calls, over the doubles' private
 * layout (platform/DoubleFormat.h), with an APEv2 tag at the end read through the tag calls. It
 * decodes no real TAK file. */
#include <stdlib.h>
#include <string.h>

#include "../DoubleCommon.h"
#include "audio/formats/tak/TAKApi.h"

#define EXPORT __declspec(dllexport)

typedef struct decoder {
  const tak_stream_ioif* io;
  void* user;
  double_header h;
  uint32_t frame;
  uint64_t pos;
  dbl_ape_tag tag;
} decoder;

EXPORT int32_t TAK_CALL tak_GetLibraryVersion(int32_t* version, int32_t* compat) {
  if (version) *version = 0x020300;
  if (compat) *compat = 0x020000;
  return 0;
}
EXPORT int32_t TAK_CALL tak_GetCodecName(int32_t codec, char* name, int32_t size) { (void)codec; if (name && size > 0) name[0] = 0; return 0; }

EXPORT void* TAK_CALL tak_SSD_Create_FromStream(const tak_stream_ioif* io, void* user, const tak_ssd_options* options,
                                         tak_damage_callback damage, void* damage_user) {
  decoder* d;
  int64_t length = 0;
  (void)damage; (void)damage_user;
  dbl_log("create cpu=%d flags=%d", options ? options->cpu : -1, options ? options->flags : -1);
  if (!io || !io->can_read(user) || !io->can_seek(user)) return NULL;
  d = (decoder*)calloc(1, sizeof *d);
  if (!d) return NULL;
  d->io = io;
  d->user = user;
  if (io->get_length(user, &length) && length > DOUBLE_HEADER_SIZE) {
    int32_t got = 0;
    io->seek(user, 0);
    if (io->read(user, &d->h, DOUBLE_HEADER_SIZE, &got) && got == DOUBLE_HEADER_SIZE)
      d->frame = dbl_check_header(&d->h, DOUBLE_MAGIC_TAK);
    if (d->frame) {
      /* The tag region after the frames. */
      int64_t audio_end = DOUBLE_HEADER_SIZE + (int64_t)d->h.frames * d->frame;
      if (audio_end < length && length - audio_end < (1 << 20)) {
        int32_t n = (int32_t)(length - audio_end);
        unsigned char* tail = (unsigned char*)malloc((size_t)n);
        if (tail && io->seek(user, audio_end) && io->read(user, tail, n, &got) && got == n) dbl_ape_parse(tail, (uint32_t)n, &d->tag);
        free(tail);
      }
      io->seek(user, DOUBLE_HEADER_SIZE);
    }
  }
  return d;
}

EXPORT void* TAK_CALL tak_SSD_Create_FromFile(const char* file, const tak_ssd_options* options, tak_damage_callback damage, void* user) {
  (void)file; (void)options; (void)damage; (void)user;
  return NULL;
}

EXPORT void TAK_CALL tak_SSD_Destroy(void* p) {
  decoder* d = (decoder*)p;
  if (!d) return;
  dbl_ape_free(&d->tag);
  free(d);
}

EXPORT int32_t TAK_CALL tak_SSD_Valid(void* p) { return p && ((decoder*)p)->frame ? 1 : 0; }
EXPORT int32_t TAK_CALL tak_SSD_State(void* p) { return tak_SSD_Valid(p) ? 0 : 1; }
EXPORT int32_t TAK_CALL tak_SSD_GetStateInfo(void* p, void* info) { (void)p; (void)info; return 0; }
EXPORT int32_t TAK_CALL tak_SSD_GetErrorString(int32_t error, char* s, int32_t size) { (void)error; if (s && size > 0) s[0] = 0; return 0; }

EXPORT int32_t TAK_CALL tak_SSD_GetStreamInfo(void* p, tak_stream_info* info) {
  decoder* d = (decoder*)p;
  if (!d || !d->frame || !info) return 1;
  memset(info, 0, sizeof *info);
  info->bits_per_sample = d->h.bits;
  info->sample_rate = (int32_t)d->h.sample_rate;
  info->channels = d->h.channels;
  info->sample_num = (int32_t)d->h.frames;
  info->frame_size = 4096;
  return 0;
}

EXPORT int32_t TAK_CALL tak_SSD_GetFrameSize(void* p) { (void)p; return 4096; }

EXPORT int32_t TAK_CALL tak_SSD_Seek(void* p, int64_t sample) {
  decoder* d = (decoder*)p;
  dbl_log("seek %lld", (long long)sample);
  if (!d || !d->frame || sample < 0 || (uint64_t)sample > d->h.frames) return 1;
  if (!d->io->seek(d->user, DOUBLE_HEADER_SIZE + sample * (int64_t)d->frame)) return 1;
  d->pos = (uint64_t)sample;
  return 0;
}

EXPORT int32_t TAK_CALL tak_SSD_ReadAudio(void* p, void* buffer, int32_t frames, int32_t* read) {
  decoder* d = (decoder*)p;
  int32_t got = 0;
  dbl_log("read %d", frames);
  if (read) *read = 0;
  if (!d || !d->frame || !buffer || frames < 0 || !read) return 1;
  if ((uint64_t)frames > d->h.frames - d->pos) frames = (int32_t)(d->h.frames - d->pos);
  if (frames == 0) return 0;
  if (!d->io->read(d->user, buffer, frames * (int32_t)d->frame, &got)) return 1;
  *read = got / (int32_t)d->frame;
  d->pos += (uint32_t)*read;
  return 0;
}

EXPORT int64_t TAK_CALL tak_SSD_GetReadPos(void* p) { return p ? (int64_t)((decoder*)p)->pos : -1; }
EXPORT int32_t TAK_CALL tak_SSD_GetCurFrameBitRate(void* p) { (void)p; return 0; }
EXPORT int32_t TAK_CALL tak_SSD_GetSimpleWaveDataDesc(void* p, void* desc) { (void)p; (void)desc; return 1; }
EXPORT int32_t TAK_CALL tak_SSD_ReadSimpleWaveData(void* p, void* buffer, int32_t size) { (void)p; (void)buffer; (void)size; return 1; }
EXPORT int32_t TAK_CALL tak_SSD_GetEncoderInfo(void* p, void* info) { (void)p; (void)info; return 1; }

EXPORT void* TAK_CALL tak_SSD_GetAPEv2Tag(void* p) { return p ? &((decoder*)p)->tag : NULL; }

EXPORT int32_t TAK_CALL tak_APE_Valid(void* tag) { return tag && ((dbl_ape_tag*)tag)->valid ? 1 : 0; }
EXPORT int32_t TAK_CALL tak_APE_State(void* tag) { return tak_APE_Valid(tag) ? 0 : 1; }
EXPORT int32_t TAK_CALL tak_APE_GetErrorString(int32_t error, char* s, int32_t size) { (void)error; if (s && size > 0) s[0] = 0; return 0; }
EXPORT int32_t TAK_CALL tak_APE_ReadOnly(void* tag) { (void)tag; return 1; }
EXPORT int32_t TAK_CALL tak_APE_GetDesc(void* tag, void* desc) { (void)tag; (void)desc; return 1; }
EXPORT int32_t TAK_CALL tak_APE_GetItemNum(void* tag) { return tak_APE_Valid(tag) ? (int32_t)((dbl_ape_tag*)tag)->count : 0; }

EXPORT int32_t TAK_CALL tak_APE_GetIndexOfKey(void* tag, const char* key, int32_t* index) {
  int i = -1;
  if (!tak_APE_Valid(tag) || !key || !index) return 1;
  if (dbl_ape_find((dbl_ape_tag*)tag, key, &i) != 0) {
    *index = -1;
    return 1;
  }
  *index = i;
  return 0;
}

EXPORT int32_t TAK_CALL tak_APE_GetItemDesc(void* tag, int32_t index, void* desc) { (void)tag; (void)index; (void)desc; return 1; }
EXPORT int32_t TAK_CALL tak_APE_GetItemKey(void* tag, int32_t index, char* key, int32_t max, int32_t* size) {
  (void)tag; (void)index; (void)key; (void)max; (void)size;
  return 1;
}

EXPORT int32_t TAK_CALL tak_APE_GetItemValue(void* tag, int32_t index, void* buffer, int32_t max, int32_t* size) {
  const char* k;
  const unsigned char* v;
  uint32_t n;
  if (!tak_APE_Valid(tag) || !size) return 1;
  if (dbl_ape_item((dbl_ape_tag*)tag, index, &k, &v, &n) != 0) return 1;
  *size = (int32_t)n;
  if (buffer) {
    if (max < (int32_t)n) return 1;
    memcpy(buffer, v, n);
  }
  return 0;
}

EXPORT int32_t TAK_CALL tak_APE_GetTextItemValueAsAnsi(void* tag, int32_t index, int32_t max, char sep, char* buffer, int32_t* size) {
  (void)tag; (void)index; (void)max; (void)sep; (void)buffer; (void)size;
  return 1;
}

/* For the tests: the calls made since the last copy, one per line. */
EXPORT int32_t TAK_CALL DoubleCallLog(char* buffer, int32_t size) { return dbl_log_copy(buffer, size); }
