/* The private file layout shared by the test doubles of "MACDll.dll", "tak_deco_lib.dll" and
 * "OptimFROG.dll" (and by the tests that make files for them): a 32-byte header, the PCM frames
 * (little-endian, 8-bit unsigned), then optionally an APE version 2 tag with its footer.
 * The doubles stand in for the vendors' libraries in tests only; they read no real files. */
#ifndef SAMPLEMORPH_DOUBLEFORMAT_H
#define SAMPLEMORPH_DOUBLEFORMAT_H
#include <stdint.h>

#define DOUBLE_MAGIC_MAC "SMDBLMAC"
#define DOUBLE_MAGIC_TAK "SMDBLTAK"
#define DOUBLE_MAGIC_OFR "SMDBLOFR"
#define DOUBLE_HEADER_SIZE 32
#define DOUBLE_FLAG_NOT_SEEKABLE 1u

#pragma pack(push, 1)
typedef struct double_header {
  char magic[8];
  uint32_t sample_rate;
  uint16_t bits;
  uint16_t channels;
  uint64_t frames;
  uint32_t flags;
  uint32_t reserved;
} double_header;
#pragma pack(pop)

#ifdef __cplusplus
static_assert(sizeof(double_header) == DOUBLE_HEADER_SIZE, "double header");
#else
_Static_assert(sizeof(double_header) == DOUBLE_HEADER_SIZE, "double header");
#endif

#endif
