/* The C interface of "libmpdec.dll" (Musepack decoding) and "libmppenc.dll" (Musepack encoding):
 * the records both sides lay out in memory and the entry points' types. Shared by the program's
 * bindings (audio/formats/mpc/libmpdec, libmppenc) and the adapter DLLs in platform/. Every function and
 * callback uses the C calling convention; Booleans are 32-bit (1 true, 0 false). */
#ifndef SAMPLEMORPH_MPCAPI_H
#define SAMPLEMORPH_MPCAPI_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- libmpdec.dll ------------------------------------------------------------------------- */

/* The program's byte source. Each callback gets `data` and answers -1 when it is nil. */
typedef struct mpdec_reader {
  int32_t (*read)(void* data, void* ptr, int32_t size); /* bytes read */
  int32_t (*seek)(void* data, int32_t offset);          /* from the start; 1 when reached */
  int32_t (*tell)(void* data);
  int32_t (*get_size)(void* data);
  int32_t (*canseek)(void* data);
  void* data;
} mpdec_reader;

/* What mpc_streaminfo_read found. */
typedef struct mpdec_streaminfo {
  uint32_t sample_freq;
  uint32_t channels;
  uint32_t stream_version;  /* 7 or 8 */
  uint32_t max_band;
  double bitrate;           /* mean bit rate of the audio, bit/s */
  int64_t samples;          /* frames to play (leading silence excluded) */
  int64_t beg_silence;      /* frames the decoder drops at the start */
  float profile;
  uint32_t reserved[9];
} mpdec_streaminfo;

/* The decoder's state: the program provides the storage (zeroed), the library keeps its working
 * state behind `impl`. mpc_decoder_setup(decoder, NULL) releases that state. */
typedef struct mpdec_decoder {
  const mpdec_reader* reader;
  void* impl;
  uint32_t reserved[14];
} mpdec_decoder;

/* Floats per call of mpc_decoder_decode: 4 frames of 1152 samples, or 2 channels of 2304. */
#define MPDEC_BUFFER_FLOATS 4608

typedef void (*mpc_streaminfo_init_t)(mpdec_streaminfo* si);
typedef int32_t (*mpc_streaminfo_read_t)(mpdec_streaminfo* si, const mpdec_reader* r); /* 0 = ok */
typedef double (*mpc_streaminfo_get_length_t)(mpdec_streaminfo* si);                   /* seconds */
typedef int64_t (*mpc_streaminfo_get_length_samples_t)(mpdec_streaminfo* si);
typedef void (*mpc_decoder_setup_t)(mpdec_decoder* d, const mpdec_reader* r);
typedef int32_t (*mpc_decoder_initialize_t)(mpdec_decoder* d, mpdec_streaminfo* si);  /* 1 = ok */
typedef void (*mpc_decoder_set_seeking_t)(mpdec_decoder* d, mpdec_streaminfo* si, int32_t fast);
typedef void (*mpc_decoder_set_streaminfo_t)(mpdec_decoder* d, mpdec_streaminfo* si);
typedef void (*mpc_decoder_scale_output_t)(mpdec_decoder* d, double factor);
/* Interleaved floats (full scale 1.0); the frames decoded, 0 or (uint32_t)-1 at the end. */
typedef uint32_t (*mpc_decoder_decode_t)(mpdec_decoder* d, float* buffer, uint32_t* vbr_acc,
                                         uint32_t* vbr_bits);
typedef uint32_t (*mpc_decoder_decode_frame_t)(mpdec_decoder* d, uint32_t* in, uint32_t in_len,
                                               float* buffer);
typedef int32_t (*mpc_decoder_seek_sample_t)(mpdec_decoder* d, int64_t sample);  /* 1 = ok */
typedef int32_t (*mpc_decoder_seek_seconds_t)(mpdec_decoder* d, double seconds);

/* ---- libmppenc.dll ------------------------------------------------------------------------ */

/* The nine callbacks of set_callbacks, in order, each given `owner` last. */
typedef void (*mppenc_noop_t)(void* owner);
typedef uint32_t (*mppenc_read_pcm_t)(void* buffer, uint32_t size, uint32_t count, void* owner);
typedef int32_t (*mppenc_end_of_pcm_t)(void* owner);
/* origin as for fseek (0 start, 1 current, 2 end); the new position, negative on failure */
typedef int32_t (*mppenc_seek_out_t)(int32_t offset, int32_t origin, void* owner);
typedef uint32_t (*mppenc_read_out_t)(void* buffer, uint32_t size, uint32_t count, void* owner);
typedef uint32_t (*mppenc_write_out_t)(const void* buffer, uint32_t size, uint32_t count, void* owner);

typedef struct mppenc_state mppenc_state;

typedef void (*init_static_t)(void);
/* total_samples 0: unknown; the header is then completed when the input ends. */
typedef int32_t (*init_enc_state_t)(mppenc_state** state, int32_t sample_rate, int64_t total_samples,
                                    int32_t bits, int32_t channels, float quality);  /* 0 = ok */
typedef void (*set_callbacks_t)(mppenc_state* state, mppenc_noop_t n1, mppenc_read_pcm_t read_pcm,
                                mppenc_end_of_pcm_t end_of_pcm, mppenc_noop_t n2, mppenc_noop_t n3,
                                mppenc_seek_out_t seek_out, mppenc_read_out_t read_out,
                                mppenc_write_out_t write_out, mppenc_noop_t n4, void* owner);
typedef int32_t (*add_tag_t)(const char* key, int32_t key_len, const char* value, int32_t value_len);
typedef int32_t (*start_encoder_t)(mppenc_state* state);     /* 0 = ok */
typedef int32_t (*process_block_t)(mppenc_state* state);     /* non-zero: finished */
typedef void (*free_encoder_state_t)(mppenc_state* state);

#ifdef __cplusplus
}
#endif
#endif
