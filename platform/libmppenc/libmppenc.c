/* "libmppenc.dll": the Musepack encoding interface the program calls (audio/formats/mpc/MPCApi.h), over the
 * encoder of Debian's Musepack sources (stream version 8). The output goes through the
 * program's callbacks: the encoder's writes, seeks and position queries reach mppenc_io_*,
 * with the state standing in for the output file.
 *
 * The encoder's psychoacoustic model and tag list are process-wide, so one encode runs at a
 * time: init_enc_state waits for the previous state to be freed. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include <mpc/datatypes.h>
#include <mpcenc/libmpcenc.h>
#include <mpcenc/libmpcpsy.h>

#include "audio/formats/mpc/MPCApi.h"

#define EXPORT __declspec(dllexport)

/* ---- the encoder's own functions, as its sources define them ---- */
typedef float SCFTriple[3];
void Init_Psychoakustik(PsyModel*);
void Init_Psychoakustiktabellen(PsyModel*);
SMRTyp Psychoakustisches_Modell(PsyModel*, const int, const PCMDataTyp*, int* TransientL, int* TransientR);
void TransientenCalc(int* Transient, const int* TransientL, const int* TransientR);
void RaiseSMR(PsyModel*, const int, SMRTyp*);
void MS_LR_Entscheidung(const int, unsigned char* MS, SMRTyp*, SubbandFloatTyp*);
void NS_Analyse(PsyModel*, const int, const unsigned char* MS, const SMRTyp, const int* Transient);
void Analyse_Filter(const PCMDataTyp*, SubbandFloatTyp*, const int);
void Analyse_Init(float Left, float Right, SubbandFloatTyp* out, const int MaxBand);
void SetQualityParams(PsyModel*, float);
void SCF_Extraktion(PsyModel* m, mpc_encoder_t* e, const int MaxBand, SubbandFloatTyp* x);
void Quantisierung(PsyModel* m, const int MaxBand, const int* resL, const int* resR,
                   const SubbandFloatTyp* subx, mpc_quantizer* subq);
int Allocate(const int MaxBand, int* res, float* x, int* scf, const float* comp, const float* smr,
             const SCFTriple* Pow, const int* Transient, const float PNS);
extern float Power_L[32][3];
extern float Power_R[32][3];
void Init_Tags(void);
int addtag(const char* key, size_t keylen, const char* value, size_t valuelen, int converttoutf8, int flags);
int FinalizeTags(FILE* fp, unsigned int Version, unsigned int flags);

#define ENC_DECODER_DELAY (512 - 32 + 1)
#define ENC_FRAMES_BLOCK_PWR 6
#define ENC_SEEK_DISTANCE 1
#define ENC_MAX_TAGS 250
/* Written into the header of a stream of unknown length until its end is known. */
#define ENC_UNKNOWN_COUNT 0xFFFFFFFFu
/* Keeps the filters away from denormal numbers, as the encoder's own front end does. */
#define ENC_DENORMAL_FIX (32.f * 1024.f / (float)(1 << 24))

struct mppenc_state {
  mppenc_read_pcm_t read_pcm;
  mppenc_end_of_pcm_t end_of_pcm;
  mppenc_seek_out_t seek_out;
  mppenc_read_out_t read_out;
  mppenc_write_out_t write_out;
  void* owner;

  int rate, bits, channels, frame_bytes;
  uint64_t announced;   /* frames promised, 0 = unknown */
  uint64_t header_count; /* the frame count the stream header holds */
  uint64_t limit;       /* frames encoded at most */
  float quality;

  PsyModel m;
  mpc_encoder_t e;
  PCMDataTyp main;
  SubbandFloatTyp x[32];
  int transient_l[PART_SHORT], transient_r[PART_SHORT], transient[32];
  uint64_t samples_read;
  unsigned current_read;
  unsigned n;
  int silence, old_silence;
  int input_ended;
  long seek_ref;
  mpc_uint_t si_size;
  int started, finished, failed;
  unsigned char* pcm;
};

static CRITICAL_SECTION g_lock;
static HANDLE g_free_event;     /* set while no state exists */
static int g_tag_count;         /* items given to the tag list of the current encode */

BOOL WINAPI DllMain(HINSTANCE inst, DWORD reason, LPVOID reserved) {
  (void)inst; (void)reserved;
  if (reason == DLL_PROCESS_ATTACH) {
    InitializeCriticalSection(&g_lock);
    g_free_event = CreateEventW(NULL, TRUE, TRUE, NULL);
    if (!g_free_event) return FALSE;
  } else if (reason == DLL_PROCESS_DETACH) {
    CloseHandle(g_free_event);
    DeleteCriticalSection(&g_lock);
  }
  return TRUE;
}

/* ---- the output file of the encoder ---- */

size_t mppenc_io_write(const void* ptr, size_t size, size_t count, FILE* f) {
  mppenc_state* s = (mppenc_state*)f;
  uint32_t n;
  if (!s || !s->write_out || size == 0 || count == 0) return 0;
  n = s->write_out(ptr, (uint32_t)size, (uint32_t)count, s->owner);
  if (n != count) s->failed = 1;
  return n;
}

int mppenc_io_seek(FILE* f, long offset, int origin) {
  mppenc_state* s = (mppenc_state*)f;
  if (!s || !s->seek_out) return -1;
  if (s->seek_out((int32_t)offset, origin, s->owner) < 0) {
    s->failed = 1;
    return -1;
  }
  return 0;
}

long mppenc_io_tell(FILE* f) {
  mppenc_state* s = (mppenc_state*)f;
  int32_t pos;
  if (!s || !s->seek_out) return -1;
  /* The callbacks have no position query: a seek by 0 from the current position answers it. */
  pos = s->seek_out(0, SEEK_CUR, s->owner);
  return pos < 0 ? -1 : pos;
}

/* ---- PCM input ---- */

static float sample_at(const unsigned char* p, int bytes) {
  switch (bytes) {
    case 1: return (float)((int)p[0] - 128) * 256.f;
    case 2: return (float)(int16_t)(p[0] | (p[1] << 8));
    case 3: return p[0] * (1.f / 256) + p[1] + 256.f * (signed char)p[2];
    default: return p[0] * (1.f / 65536) + p[1] * (1.f / 256) + p[2] + 256.f * (signed char)p[3];
  }
}

/* Reads up to BLOCK frames into the model's buffers at `offset`; pads the rest with the last
 * values. Returns the frames read. */
static unsigned read_block(mppenc_state* s, ptrdiff_t offset, unsigned want) {
  unsigned got = 0, i;
  int bytes = s->bits / 8, silent = 1;
  float *l = s->main.L + offset, *r = s->main.R + offset, *m = s->main.M + offset, *sd = s->main.S + offset;
  if (!s->input_ended && want > 0) {
    uint32_t k = s->read_pcm(s->pcm, (uint32_t)s->frame_bytes, want, s->owner);
    got = k > want ? want : k;
    if (got < want || s->end_of_pcm(s->owner)) s->input_ended = 1;
  }
  for (i = 0; i < got; ++i) {
    const unsigned char* f = s->pcm + (size_t)i * s->frame_bytes;
    float a = sample_at(f, bytes);
    float b = s->channels > 1 ? sample_at(f + bytes, bytes) : a;
    if (a != 0 || b != 0) silent = 0;
    l[i] = a + ENC_DENORMAL_FIX;
    r[i] = b + ENC_DENORMAL_FIX * 0.5f;
    m[i] = (l[i] + r[i]) * 0.5f;
    sd[i] = (l[i] - r[i]) * 0.5f;
  }
  for (; i < BLOCK; ++i) l[i] = r[i] = m[i] = sd[i] = 0;
  s->silence = silent;
  s->samples_read += got;
  return got;
}

static void fill(float* p, float v, unsigned count) {
  while (count--) *p++ = v;
}

/* ---- the interface ---- */

EXPORT void init_static(void) {}

EXPORT int32_t init_enc_state(mppenc_state** state, int32_t sample_rate, int64_t total_samples,
                              int32_t bits, int32_t channels, float quality) {
  mppenc_state* s;
  if (!state) return -1;
  *state = NULL;
  if (sample_rate != 44100 && sample_rate != 48000 && sample_rate != 37800 && sample_rate != 32000) return -2;
  if (bits < 8 || bits > 32 || bits % 8 != 0 || channels < 1 || channels > 8) return -3;
  s = (mppenc_state*)calloc(1, sizeof *s);
  if (!s) return -4;
  s->pcm = (unsigned char*)malloc((size_t)BLOCK * channels * (bits / 8));
  if (!s->pcm) {
    free(s);
    return -4;
  }
  /* One encode at a time. */
  for (;;) {
    WaitForSingleObject(g_free_event, INFINITE);
    EnterCriticalSection(&g_lock);
    if (WaitForSingleObject(g_free_event, 0) == WAIT_OBJECT_0) {
      ResetEvent(g_free_event);
      LeaveCriticalSection(&g_lock);
      break;
    }
    LeaveCriticalSection(&g_lock);
  }
  s->rate = sample_rate;
  s->bits = bits;
  s->channels = channels;
  s->frame_bytes = channels * (bits / 8);
  s->announced = total_samples > 0 ? (uint64_t)total_samples : 0;
  s->limit = s->announced;
  s->quality = quality;
  s->m.SCF_Index_L = (int*)s->e.SCF_Index_L;
  s->m.SCF_Index_R = (int*)s->e.SCF_Index_R;
  Init_Psychoakustik(&s->m);
  s->m.SampleFreq = (float)sample_rate;
  SetQualityParams(&s->m, quality);
  Init_Tags();
  g_tag_count = 0;
  *state = s;
  return 0;
}

EXPORT void set_callbacks(mppenc_state* s, mppenc_noop_t n1, mppenc_read_pcm_t read_pcm,
                          mppenc_end_of_pcm_t end_of_pcm, mppenc_noop_t n2, mppenc_noop_t n3,
                          mppenc_seek_out_t seek_out, mppenc_read_out_t read_out,
                          mppenc_write_out_t write_out, mppenc_noop_t n4, void* owner) {
  (void)n1; (void)n2; (void)n3; (void)n4;
  if (!s) return;
  s->read_pcm = read_pcm;
  s->end_of_pcm = end_of_pcm;
  s->seek_out = seek_out;
  s->read_out = read_out;
  s->write_out = write_out;
  s->owner = owner;
}

EXPORT int32_t add_tag(const char* key, int32_t key_len, const char* value, int32_t value_len) {
  if (!key || key_len <= 0 || !value || value_len < 0 || g_tag_count >= ENC_MAX_TAGS) return -1;
  ++g_tag_count;
  return addtag(key, (size_t)key_len, value, (size_t)value_len, 0, 0) == 0 ? 0 : -1;
}

static void write_header(mppenc_state* s, uint64_t count, mpc_uint32_t min_size, mpc_uint_t* size) {
  writeStreamInfo(&s->e, s->m.Max_Band, s->m.MS_Channelmode > 0, (unsigned)count, 0, s->rate,
                  s->channels > 2 ? 2 : s->channels);
  *size = writeBlock(&s->e, "SH", MPC_TRUE, min_size);
}

EXPORT int32_t start_encoder(mppenc_state* s) {
  if (!s || !s->read_pcm || !s->end_of_pcm || !s->seek_out || !s->write_out || s->started) return -1;
  mpc_encoder_init(&s->e, s->announced, ENC_FRAMES_BLOCK_PWR, ENC_SEEK_DISTANCE);
  if (!s->e.seek_table || !s->e.buffer) return -4;
  Init_Psychoakustiktabellen(&s->m);
  s->e.outputFile = (FILE*)s;
  s->e.MS_Channelmode = s->m.MS_Channelmode;
  s->seek_ref = mppenc_io_tell((FILE*)s);
  if (s->seek_ref < 0) s->seek_ref = 0;
  s->e.seek_ref = (mpc_uint32_t)s->seek_ref;
  writeMagic(&s->e);
  s->header_count = s->announced ? s->announced : ENC_UNKNOWN_COUNT;
  write_header(s, s->header_count, 0, &s->si_size);
  writeGainInfo(&s->e, 0, 0, 0, 0);
  writeBlock(&s->e, "RG", MPC_FALSE, 0);
  writeEncoderInfo(&s->e, s->m.FullQual, s->m.PNS > 0, 1, 30, 0);
  writeBlock(&s->e, "EI", MPC_FALSE, 0);
  s->e.seek_ptr = (mpc_uint32_t)mppenc_io_tell((FILE*)s);
  writeBits(&s->e, 0, 16);
  writeBits(&s->e, 0, 24);
  writeBlock(&s->e, "SO", MPC_FALSE, 0);

  s->current_read = read_block(s, CENTER, s->limit ? (unsigned)(s->limit < BLOCK ? s->limit : BLOCK) : BLOCK);
  if (s->current_read > 0) {
    fill(s->main.L, s->main.L[CENTER], CENTER);
    fill(s->main.R, s->main.R[CENTER], CENTER);
    fill(s->main.M, s->main.M[CENTER], CENTER);
    fill(s->main.S, s->main.S[CENTER], CENTER);
  }
  Analyse_Init(s->main.L[CENTER], s->main.R[CENTER], s->x, s->m.Max_Band);
  s->started = 1;
  return s->failed ? -5 : 0;
}

/* Frames the stream holds: all read once the input has ended, else what was announced. */
static uint64_t frames_known(const mppenc_state* s) {
  if (s->input_ended || !s->announced) return s->samples_read;
  return s->announced;
}

static void finish(mppenc_state* s) {
  uint64_t total = s->samples_read;
  if (s->e.framesInBlock != 0) {
    if ((s->e.block_cnt & ((1u << s->e.seek_pwr) - 1)) == 0 && s->e.seek_pos < (1u << 16)) {
      s->e.seek_table[s->e.seek_pos] = (mpc_uint32_t)mppenc_io_tell((FILE*)s);
      s->e.seek_pos++;
    }
    s->e.block_cnt++;
    writeBlock(&s->e, "AP", MPC_FALSE, 0);
  }
  if (s->e.seek_pos > 0) {
    writeSeekTable(&s->e);
    writeBlock(&s->e, "ST", MPC_FALSE, 0);
  }
  writeBlock(&s->e, "SE", MPC_FALSE, 0);
  if (total != s->header_count) {
    /* The length was unknown (also when nothing came: 0 frames is no known length) or the input
     * ended early: the header gets the real count, in the room the first one took. */
    mpc_uint_t ignored;
    mppenc_io_seek((FILE*)s, s->seek_ref + 4, SEEK_SET);
    write_header(s, total, s->si_size, &ignored);
    mppenc_io_seek((FILE*)s, 0, SEEK_END);
  }
  FinalizeTags((FILE*)s, 2000, 0);
  s->finished = 1;
}

EXPORT int32_t process_block(mppenc_state* s) {
  SMRTyp smr;
  if (!s || !s->started || s->finished) return 1;
  if (s->failed) {
    s->finished = 1;
    return 1;
  }
  if (!((uint64_t)s->n * BLOCK < frames_known(s) + ENC_DECODER_DELAY)) {
    finish(s);
    return 1;
  }
  if (s->current_read < BLOCK && s->n > 0) {
    unsigned c = s->current_read, k = CENTER + c;
    float l = s->main.L[k - 1], r = s->main.R[k - 1], m = s->main.M[k - 1], sd = s->main.S[k - 1];
    fill(s->main.L + k, l, BLOCK - c);
    fill(s->main.R + k, r, BLOCK - c);
    fill(s->main.M + k, m, BLOCK - c);
    fill(s->main.S + k, sd, BLOCK - c);
  }
  memset(s->e.Res_L, 0, sizeof s->e.Res_L);
  memset(s->e.Res_R, 0, sizeof s->e.Res_R);
  if (!s->silence || !s->old_silence) {
    Analyse_Filter(&s->main, s->x, s->m.Max_Band);
    smr = Psychoakustisches_Modell(&s->m, 31, &s->main, s->transient_l, s->transient_r);
    if (s->m.minSMR > 0) RaiseSMR(&s->m, s->m.Max_Band, &smr);
    if (s->m.MS_Channelmode > 0) MS_LR_Entscheidung(s->m.Max_Band, s->e.MS_Flag, &smr, s->x);
    SCF_Extraktion(&s->m, &s->e, s->m.Max_Band, s->x);
    TransientenCalc(s->transient, s->transient_l, s->transient_r);
    if (s->m.NS_Order > 0) NS_Analyse(&s->m, s->m.Max_Band, s->e.MS_Flag, smr, s->transient);
    Allocate(s->m.Max_Band, s->e.Res_L, s->x[0].L, s->e.SCF_Index_L[0], s->m.SNR_comp_L, smr.L,
             (const SCFTriple*)Power_L, s->transient, s->m.PNS);
    Allocate(s->m.Max_Band, s->e.Res_R, s->x[0].R, s->e.SCF_Index_R[0], s->m.SNR_comp_R, smr.R,
             (const SCFTriple*)Power_R, s->transient, s->m.PNS);
    Quantisierung(&s->m, s->m.Max_Band, s->e.Res_L, s->e.Res_R, s->x, s->e.Q);
  }
  s->old_silence = s->silence;
  writeBitstream_SV8(&s->e, s->m.Max_Band);
  memmove(s->main.L, s->main.L + BLOCK, CENTER * sizeof(float));
  memmove(s->main.R, s->main.R + BLOCK, CENTER * sizeof(float));
  memmove(s->main.M, s->main.M + BLOCK, CENTER * sizeof(float));
  memmove(s->main.S, s->main.S + BLOCK, CENTER * sizeof(float));
  {
    unsigned want = BLOCK;
    if (s->limit) want = s->samples_read >= s->limit ? 0 : (unsigned)((s->limit - s->samples_read) < BLOCK ? s->limit - s->samples_read : BLOCK);
    if (want == 0) s->input_ended = 1;
    s->current_read = read_block(s, CENTER, want);
  }
  s->n++;
  return 0;
}

EXPORT void free_encoder_state(mppenc_state* s) {
  if (!s) return;
  if (s->started) mpc_encoder_exit(&s->e);
  Init_Tags();
  free(s->pcm);
  free(s);
  SetEvent(g_free_event);
}
