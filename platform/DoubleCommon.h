/* Helpers shared by the test doubles: header checks and the APE version 2 tag at a file's end. */
#ifndef SAMPLEMORPH_DOUBLECOMMON_H
#define SAMPLEMORPH_DOUBLECOMMON_H
#include <stddef.h>
#include <stdint.h>

#include "DoubleFormat.h"

/* Checks a header against a magic; the frame size in bytes, 0 when the header is not usable. */
uint32_t dbl_check_header(const double_header* h, const char* magic);

/* An APEv2 tag read from its footer at the end of `data` (the whole tag region). */
typedef struct dbl_ape_tag {
  int valid;
  uint32_t count;
  unsigned char* items; /* the items as stored */
  uint32_t items_size;
} dbl_ape_tag;

/* Parses the tag whose footer ends `tail` (tail_size bytes ending at the end of the file). */
void dbl_ape_parse(const unsigned char* tail, uint32_t tail_size, dbl_ape_tag* tag);
void dbl_ape_free(dbl_ape_tag* tag);
/* The value of an item found by key (ASCII case ignored); index out; 0 when found. */
int dbl_ape_find(const dbl_ape_tag* tag, const char* key, int* index);
/* The item at index: key and value pointers and sizes; 0 when it exists. */
int dbl_ape_item(const dbl_ape_tag* tag, int index, const char** key, const unsigned char** value,
                 uint32_t* value_size);
/* A complete tag (header, items, footer) from keys and UTF-8 values (empty values skipped); the
 * caller frees the result. */
unsigned char* dbl_ape_build(const char* const* keys, const char* const* values, int n, uint32_t* size);

/* A log of calls with their parameters, for the tests (one line per call). */
void dbl_log(const char* fmt, ...);
int dbl_log_copy(char* buffer, int size);
#endif
