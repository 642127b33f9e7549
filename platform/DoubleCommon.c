#include "DoubleCommon.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

uint32_t dbl_check_header(const double_header* h, const char* magic) {
  if (memcmp(h->magic, magic, 8) != 0) return 0;
  if (h->sample_rate == 0 || h->sample_rate > 1000000) return 0;
  if (h->bits != 8 && h->bits != 16 && h->bits != 24 && h->bits != 32) return 0;
  if (h->channels == 0 || h->channels > 8) return 0;
  return (uint32_t)h->channels * (h->bits / 8);
}

static uint32_t get32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
static void put32(unsigned char* p, uint32_t v) {
  p[0] = (unsigned char)v; p[1] = (unsigned char)(v >> 8); p[2] = (unsigned char)(v >> 16); p[3] = (unsigned char)(v >> 24);
}

void dbl_ape_parse(const unsigned char* tail, uint32_t tail_size, dbl_ape_tag* tag) {
  const unsigned char* f;
  uint32_t size, count;
  memset(tag, 0, sizeof *tag);
  if (tail_size < 32) return;
  f = tail + tail_size - 32;
  if (memcmp(f, "APETAGEX", 8) != 0) return;
  size = get32(f + 12);
  count = get32(f + 16);
  if (size < 32 || size > tail_size || count > 10000) return;
  tag->items_size = size - 32;
  tag->items = (unsigned char*)malloc(tag->items_size + 1);
  if (!tag->items) return;
  memcpy(tag->items, f - tag->items_size, tag->items_size);
  tag->count = count;
  tag->valid = 1;
}

void dbl_ape_free(dbl_ape_tag* tag) {
  free(tag->items);
  memset(tag, 0, sizeof *tag);
}

int dbl_ape_item(const dbl_ape_tag* tag, int index, const char** key, const unsigned char** value,
                 uint32_t* value_size) {
  uint32_t at = 0;
  int i;
  if (!tag->valid || index < 0 || (uint32_t)index >= tag->count) return -1;
  for (i = 0; i <= index; ++i) {
    uint32_t len, k;
    if (at + 8 > tag->items_size) return -1;
    len = get32(tag->items + at);
    k = at + 8;
    while (k < tag->items_size && tag->items[k]) ++k;
    if (k >= tag->items_size || len > tag->items_size - k - 1) return -1;
    if (i == index) {
      *key = (const char*)tag->items + at + 8;
      *value = tag->items + k + 1;
      *value_size = len;
      return 0;
    }
    at = k + 1 + len;
  }
  return -1;
}

int dbl_ape_find(const dbl_ape_tag* tag, const char* key, int* index) {
  uint32_t i;
  for (i = 0; i < tag->count; ++i) {
    const char* k;
    const unsigned char* v;
    uint32_t n;
    if (dbl_ape_item(tag, (int)i, &k, &v, &n) != 0) return -1;
    if (lstrcmpiA(k, key) == 0) {
      *index = (int)i;
      return 0;
    }
  }
  return -1;
}

unsigned char* dbl_ape_build(const char* const* keys, const char* const* values, int n, uint32_t* size) {
  uint32_t items = 0, count = 0, at;
  int i;
  unsigned char* out;
  for (i = 0; i < n; ++i)
    if (values[i] && values[i][0]) items += 8 + (uint32_t)strlen(keys[i]) + 1 + (uint32_t)strlen(values[i]);
  *size = items + 64;
  out = (unsigned char*)calloc(1, *size);
  if (!out) return NULL;
  at = 32;
  for (i = 0; i < n; ++i) {
    uint32_t kl, vl;
    if (!values[i] || !values[i][0]) continue;
    kl = (uint32_t)strlen(keys[i]);
    vl = (uint32_t)strlen(values[i]);
    put32(out + at, vl);
    put32(out + at + 4, 0);
    memcpy(out + at + 8, keys[i], kl + 1);
    memcpy(out + at + 8 + kl + 1, values[i], vl);
    at += 8 + kl + 1 + vl;
    ++count;
  }
  for (i = 0; i < 2; ++i) {
    unsigned char* h = i == 0 ? out : out + at;
    memcpy(h, "APETAGEX", 8);
    put32(h + 8, 2000);
    put32(h + 12, items + 32);
    put32(h + 16, count);
    put32(h + 20, i == 0 ? 0xA0000000u : 0x80000000u);
  }
  return out;
}

static char g_log[65536];
static int g_log_len;

void dbl_log(const char* fmt, ...) {
  va_list a;
  int n;
  if (g_log_len >= (int)sizeof g_log - 256) return;
  va_start(a, fmt);
  n = vsnprintf(g_log + g_log_len, sizeof g_log - g_log_len - 1, fmt, a);
  va_end(a);
  if (n > 0) g_log_len += n;
  g_log[g_log_len++] = '\n';
  g_log[g_log_len] = 0;
}

int dbl_log_copy(char* buffer, int size) {
  int n = g_log_len < size - 1 ? g_log_len : size - 1;
  if (!buffer || size <= 0) return g_log_len;
  memcpy(buffer, g_log, n);
  buffer[n] = 0;
  g_log_len = 0;
  g_log[0] = 0;
  return n;
}
