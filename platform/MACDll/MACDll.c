/* Test double of "MACDll.dll": the interface the program calls, over the doubles' private layout
 * (platform/DoubleFormat.h). The compressor stores the PCM as given; TagFileSimple appends an APEv2
 * tag, which GetID3Tag reports back as an ID3 version 1.1 record. It reads no real APE file. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "../DoubleCommon.h"
#include "audio/formats/mac/MACApi.h"

#define EXPORT /* exported by MACDll.def */
#define BUFFER_BYTES 65536

typedef struct compressor {
  HANDLE file;
  double_header h;
  uint32_t frame;
  unsigned char buffer[BUFFER_BYTES];
  uint64_t bytes;
} compressor;

typedef struct decompressor {
  HANDLE file;
  double_header h;
  uint32_t frame;
  uint64_t pos;
} decompressor;

/* ---- compression ---- */

EXPORT mac_handle MAC_CALL c_APECompress_Create(int32_t* error) {
  compressor* c = (compressor*)calloc(1, sizeof *c);
  if (error) *error = c ? 0 : 2000;
  if (c) c->file = INVALID_HANDLE_VALUE;
  dbl_log("create");
  return (mac_handle)c;
}

EXPORT int32_t MAC_CALL c_APECompress_Start(mac_handle handle, const char* file, const mac_wave_format* f,
                                            int32_t max_bytes, int32_t level, const void* header, int32_t header_bytes) {
  compressor* c = (compressor*)handle;
  DWORD n;
  dbl_log("start %s rate=%u bits=%u ch=%u max=%d level=%d header=%p/%d", file ? file : "(nil)",
          f ? f->samples_per_sec : 0, f ? f->bits_per_sample : 0, f ? f->channels : 0, max_bytes, level, header,
          header_bytes);
  if (!c || !file || !f) return 1012;
  if (f->bits_per_sample != 8 && f->bits_per_sample != 16 && f->bits_per_sample != 24) return 1005;
  if (f->channels < 1 || f->channels > 2) return 1007;
  if (level != 1000 && level != 2000 && level != 3000 && level != 4000 && level != 5000) return 5000;
  c->file = CreateFileA(file, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
  if (c->file == INVALID_HANDLE_VALUE) return 1003;
  memcpy(c->h.magic, DOUBLE_MAGIC_MAC, 8);
  c->h.sample_rate = f->samples_per_sec;
  c->h.bits = f->bits_per_sample;
  c->h.channels = f->channels;
  c->frame = (uint32_t)f->channels * (f->bits_per_sample / 8);
  if (!WriteFile(c->file, &c->h, DOUBLE_HEADER_SIZE, &n, NULL) || n != DOUBLE_HEADER_SIZE) return 1001;
  return 0;
}

EXPORT unsigned char* MAC_CALL c_APECompress_LockBuffer(mac_handle handle, int32_t* available) {
  compressor* c = (compressor*)handle;
  if (!c || !available) return NULL;
  *available = BUFFER_BYTES;
  return c->buffer;
}

EXPORT int32_t MAC_CALL c_APECompress_UnlockBuffer(mac_handle handle, int32_t bytes, int32_t process) {
  compressor* c = (compressor*)handle;
  DWORD n;
  dbl_log("unlock %d process=%d", bytes, process);
  if (!c || c->file == INVALID_HANDLE_VALUE || bytes < 0 || bytes > BUFFER_BYTES) return 1012;
  if (bytes == 0) return 0;
  if (!WriteFile(c->file, c->buffer, (DWORD)bytes, &n, NULL) || n != (DWORD)bytes) return 1001;
  c->bytes += (uint32_t)bytes;
  return 0;
}

EXPORT int32_t MAC_CALL c_APECompress_Finish(mac_handle handle, unsigned char* terminating, int32_t bytes, int32_t wav_bytes) {
  compressor* c = (compressor*)handle;
  DWORD n;
  dbl_log("finish %p %d %d", (void*)terminating, bytes, wav_bytes);
  if (!c || c->file == INVALID_HANDLE_VALUE) return 1012;
  c->h.frames = c->frame ? c->bytes / c->frame : 0;
  SetFilePointer(c->file, 0, NULL, FILE_BEGIN);
  if (!WriteFile(c->file, &c->h, DOUBLE_HEADER_SIZE, &n, NULL)) return 1001;
  CloseHandle(c->file);
  c->file = INVALID_HANDLE_VALUE;
  return 0;
}

EXPORT void MAC_CALL c_APECompress_Destroy(mac_handle handle) {
  compressor* c = (compressor*)handle;
  dbl_log("destroy");
  if (!c) return;
  if (c->file != INVALID_HANDLE_VALUE) CloseHandle(c->file);
  free(c);
}

EXPORT int32_t MAC_CALL c_APECompress_Kill(mac_handle handle) { c_APECompress_Destroy(handle); return 0; }
EXPORT int32_t MAC_CALL c_APECompress_AddData(mac_handle handle, unsigned char* data, int32_t bytes) { (void)handle; (void)data; (void)bytes; return 1012; }
EXPORT int32_t MAC_CALL c_APECompress_GetBufferBytesAvailable(mac_handle handle) { return handle ? BUFFER_BYTES : 0; }

/* ---- decompression ---- */

EXPORT mac_handle MAC_CALL c_APEDecompress_CreateW(const wchar_t* file, int32_t* error) {
  decompressor* d;
  DWORD n;
  if (error) *error = 0;
  d = (decompressor*)calloc(1, sizeof *d);
  if (!d) {
    if (error) *error = 2000;
    return 0;
  }
  d->file = CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (d->file == INVALID_HANDLE_VALUE) {
    free(d);
    if (error) *error = 1000;
    return 0;
  }
  if (!ReadFile(d->file, &d->h, DOUBLE_HEADER_SIZE, &n, NULL) || n != DOUBLE_HEADER_SIZE ||
      !(d->frame = dbl_check_header(&d->h, DOUBLE_MAGIC_MAC))) {
    /* Not a file of ours: refused without an error code. */
    CloseHandle(d->file);
    free(d);
    return 0;
  }
  return (mac_handle)d;
}

EXPORT void MAC_CALL c_APEDecompress_Destroy(mac_handle handle) {
  decompressor* d = (decompressor*)handle;
  if (!d) return;
  CloseHandle(d->file);
  free(d);
}

EXPORT int32_t MAC_CALL c_APEDecompress_GetData(mac_handle handle, char* buffer, int32_t blocks, int32_t* retrieved) {
  decompressor* d = (decompressor*)handle;
  DWORD n = 0;
  if (retrieved) *retrieved = 0;
  dbl_log("getdata %d", blocks);
  if (!d || !buffer || blocks < 0 || !retrieved) return 1012;
  if ((uint64_t)blocks > d->h.frames - d->pos) blocks = (int32_t)(d->h.frames - d->pos);
  if (blocks == 0) return 0;
  if (!ReadFile(d->file, buffer, (DWORD)blocks * d->frame, &n, NULL)) return 1000;
  *retrieved = (int32_t)(n / d->frame);
  d->pos += (uint32_t)*retrieved;
  return 0;
}

EXPORT intptr_t MAC_CALL c_APEDecompress_GetInfo(mac_handle handle, int32_t field, intptr_t p1, intptr_t p2) {
  decompressor* d = (decompressor*)handle;
  (void)p1; (void)p2;
  if (!d) return -1;
  switch (field) {
    case MAC_INFO_SAMPLE_RATE: return (int32_t)d->h.sample_rate;
    case MAC_INFO_BITS_PER_SAMPLE: return d->h.bits;
    case MAC_INFO_CHANNELS: return d->h.channels;
    case MAC_INFO_DECOMPRESSED_BYTES: return (int32_t)(d->h.frames * d->frame);
    case MAC_INFO_LENGTH_MS: return (int32_t)(d->h.frames * 1000 / d->h.sample_rate);
    case MAC_INFO_CURRENT_BITRATE: return (int32_t)((uint64_t)d->h.sample_rate * d->frame * 8 / 1000);
    default: return -1;
  }
}

EXPORT int32_t MAC_CALL c_APEDecompress_Seek(mac_handle handle, int32_t block) {
  decompressor* d = (decompressor*)handle;
  LARGE_INTEGER at;
  dbl_log("seek %d", block);
  if (!d || block < 0 || (uint64_t)block > d->h.frames) return 1012;
  at.QuadPart = DOUBLE_HEADER_SIZE + (int64_t)block * d->frame;
  if (!SetFilePointerEx(d->file, at, NULL, FILE_BEGIN)) return 1000;
  d->pos = (uint32_t)block;
  return 0;
}

/* ---- helpers and tags ---- */

EXPORT int32_t MAC_CALL FillWaveFormatEx(mac_wave_format* f, int32_t rate, int32_t bits, int32_t channels) {
  if (!f) return 1012;
  memset(f, 0, sizeof *f);
  f->format_tag = 1;
  f->channels = (uint16_t)channels;
  f->samples_per_sec = (uint32_t)rate;
  f->bits_per_sample = (uint16_t)bits;
  f->block_align = (uint16_t)(channels * (bits / 8));
  f->avg_bytes_per_sec = f->block_align * (uint32_t)rate;
  return 0;
}

/* The whole file, or NULL. */
static unsigned char* read_file(const char* file, DWORD* size) {
  HANDLE h = CreateFileA(file, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
  unsigned char* data;
  if (h == INVALID_HANDLE_VALUE) return NULL;
  *size = GetFileSize(h, NULL);
  data = (unsigned char*)malloc(*size + 1);
  if (data && !ReadFile(h, data, *size, size, NULL)) {
    free(data);
    data = NULL;
  }
  CloseHandle(h);
  return data;
}

static void copy_item(const dbl_ape_tag* tag, const char* key, char* out, size_t size) {
  int i;
  const char* k;
  const unsigned char* v;
  uint32_t n;
  if (dbl_ape_find(tag, key, &i) != 0 || dbl_ape_item(tag, i, &k, &v, &n) != 0) return;
  memcpy(out, v, n < size ? n : size);
}

EXPORT int32_t MAC_CALL GetID3Tag(const char* file, mac_id3_record* r) {
  DWORD size = 0;
  unsigned char* data;
  dbl_ape_tag tag;
  char track[8] = {0};
  if (!file || !r) return -1;
  data = read_file(file, &size);
  if (!data) return -1;
  dbl_ape_parse(data, size, &tag);
  free(data);
  if (!tag.valid) return -1;
  memset(r, 0, sizeof *r);
  memcpy(r->header, "TAG", 3);
  copy_item(&tag, "Title", r->title, 30);
  copy_item(&tag, "Artist", r->artist, 30);
  copy_item(&tag, "Album", r->album, 30);
  copy_item(&tag, "Year", r->year, 4);
  copy_item(&tag, "Comment", r->comment, 28);
  copy_item(&tag, "Track", track, sizeof track - 1);
  r->comment[29] = (char)atoi(track);
  r->genre = 255;
  dbl_ape_free(&tag);
  return 0;
}

EXPORT int32_t MAC_CALL TagFileSimple(const char* file, const char* artist, const char* album, const char* title,
                                      const char* comment, const char* genre, const char* year, const char* track,
                                      int32_t clear_first, int32_t use_id3) {
  static const char* const keys[] = {"Artist", "Album", "Title", "Comment", "Genre", "Year", "Track"};
  const char* values[7];
  uint32_t size;
  unsigned char* tag;
  HANDLE h;
  DWORD n;
  dbl_log("tag %s artist=%s album=%s title=%s comment=%s genre=%s year=%s track=%s clear=%d id3=%d", file ? file : "(nil)",
          artist ? artist : "", album ? album : "", title ? title : "", comment ? comment : "", genre ? genre : "",
          year ? year : "", track ? track : "", clear_first, use_id3);
  if (!file || use_id3) return -1;
  values[0] = artist; values[1] = album; values[2] = title; values[3] = comment;
  values[4] = genre; values[5] = year; values[6] = track;
  tag = dbl_ape_build(keys, values, 7, &size);
  if (!tag) return -1;
  h = CreateFileA(file, GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
  if (h == INVALID_HANDLE_VALUE) {
    free(tag);
    return -1;
  }
  SetFilePointer(h, 0, NULL, FILE_END);
  WriteFile(h, tag, size, &n, NULL);
  CloseHandle(h);
  free(tag);
  return n == size ? 0 : -1;
}

/* ---- resolved by the program but not called ---- */
EXPORT int32_t MAC_CALL ProgressCallback(int32_t percent) { (void)percent; return 0; }
EXPORT int32_t MAC_CALL RemoveTag(const char* file) { (void)file; return -1; }
EXPORT int32_t MAC_CALL CompressFile(const char* in, const char* out, int32_t level, int32_t* progress, void* cb, int32_t* kill) {
  (void)in; (void)out; (void)level; (void)progress; (void)cb; (void)kill; return 1013;
}
EXPORT int32_t MAC_CALL ConvertFile(const char* in, const char* out, int32_t level, int32_t* progress, void* cb, int32_t* kill) {
  (void)in; (void)out; (void)level; (void)progress; (void)cb; (void)kill; return 1013;
}
EXPORT int32_t MAC_CALL DecompressFile(const char* in, const char* out, int32_t* progress, void* cb, int32_t* kill) {
  (void)in; (void)out; (void)progress; (void)cb; (void)kill; return 1013;
}
EXPORT int32_t MAC_CALL FillWaveHeader(void* header, int32_t bytes, mac_wave_format* f, int32_t terminating) {
  (void)header; (void)bytes; (void)f; (void)terminating; return 1012;
}
EXPORT int32_t MAC_CALL GetInterfaceCompatibility(int32_t version, int32_t message, void* parent) { (void)version; (void)message; (void)parent; return 0; }
EXPORT int32_t MAC_CALL GetVersionNumber(void) { return 3990; }
EXPORT int32_t MAC_CALL ShowFileInfoDialog(const char* file, void* parent) { (void)file; (void)parent; return -1; }
EXPORT int32_t MAC_CALL VerifyFile(const char* file, int32_t quick) { (void)file; (void)quick; return 0; }

/* For the tests: the calls made since the last copy, one per line. */
EXPORT int32_t MAC_CALL DoubleCallLog(char* buffer, int32_t size) { return dbl_log_copy(buffer, size); }
