/* "libmpdec.dll": the Musepack decoding interface the program calls (audio/formats/mpc/MPCApi.h), over the
 * demultiplexer of libmpcdec, which reads stream versions 7 and 8. */
#include <stdlib.h>
#include <string.h>

#include <mpc/mpcdec.h>

#include "audio/formats/mpc/MPCApi.h"

/* Exported under the interface's names by libmpdec.def (libmpcdec has some of the same names). */

/* The library's reader, forwarding to the program's. */
typedef struct bridge {
  mpc_reader r;
  const mpdec_reader* user;
} bridge;

static mpc_int32_t br_read(mpc_reader* p, void* ptr, mpc_int32_t size) {
  const mpdec_reader* u = ((bridge*)p)->user;
  mpc_int32_t n = u->read(u->data, ptr, size);
  return n < 0 ? 0 : n;
}
static mpc_bool_t br_seek(mpc_reader* p, mpc_int32_t offset) {
  const mpdec_reader* u = ((bridge*)p)->user;
  return u->seek(u->data, offset) == 1;
}
static mpc_int32_t br_tell(mpc_reader* p) {
  const mpdec_reader* u = ((bridge*)p)->user;
  return u->tell(u->data);
}
static mpc_int32_t br_get_size(mpc_reader* p) {
  const mpdec_reader* u = ((bridge*)p)->user;
  return u->get_size(u->data);
}
static mpc_bool_t br_canseek(mpc_reader* p) {
  const mpdec_reader* u = ((bridge*)p)->user;
  return u->canseek(u->data) == 1;
}

static void bridge_init(bridge* b, const mpdec_reader* user) {
  b->r.read = br_read;
  b->r.seek = br_seek;
  b->r.tell = br_tell;
  b->r.get_size = br_get_size;
  b->r.canseek = br_canseek;
  b->r.data = b;
  b->user = user;
}

/* The working state behind mpdec_decoder.impl. */
typedef struct decoder_impl {
  bridge b;
  mpc_demux* demux;
  float scale;
} decoder_impl;

static int reader_usable(const mpdec_reader* r) {
  return r && r->read && r->seek && r->tell && r->get_size && r->canseek;
}

/* Opens a demultiplexer at the start of the stream, or NULL. */
static mpc_demux* open_demux(bridge* b) {
  if (b->user->seek(b->user->data, 0) != 1) return NULL;
  return mpc_demux_init(&b->r);
}

void ad_streaminfo_init(mpdec_streaminfo* si) {
  if (si) memset(si, 0, sizeof *si);
}

int32_t ad_streaminfo_read(mpdec_streaminfo* si, const mpdec_reader* r) {
  bridge b;
  mpc_demux* d;
  mpc_streaminfo info;
  if (!si || !reader_usable(r)) return -1;
  bridge_init(&b, r);
  d = open_demux(&b);
  if (!d) return -1;
  memset(&info, 0, sizeof info);
  mpc_demux_get_info(d, &info);
  mpc_demux_exit(d);
  if (info.sample_freq == 0 || info.channels == 0 || info.channels > 2) return -1;
  memset(si, 0, sizeof *si);
  si->sample_freq = info.sample_freq;
  si->channels = info.channels;
  si->stream_version = info.stream_version;
  si->max_band = info.max_band;
  si->bitrate = info.average_bitrate;
  si->samples = info.samples >= info.beg_silence ? (int64_t)(info.samples - info.beg_silence) : 0;
  si->beg_silence = (int64_t)info.beg_silence;
  si->profile = info.profile;
  return 0;
}

double ad_streaminfo_get_length(mpdec_streaminfo* si) {
  if (!si || si->sample_freq == 0) return 0;
  return (double)si->samples / si->sample_freq;
}

int64_t ad_streaminfo_get_length_samples(mpdec_streaminfo* si) { return si ? si->samples : 0; }

static void release(mpdec_decoder* d) {
  decoder_impl* i = (decoder_impl*)d->impl;
  if (!i) return;
  if (i->demux) mpc_demux_exit(i->demux);
  free(i);
  d->impl = NULL;
}

void ad_decoder_setup(mpdec_decoder* d, const mpdec_reader* r) {
  if (!d) return;
  release(d);
  d->reader = r;
}

int32_t ad_decoder_initialize(mpdec_decoder* d, mpdec_streaminfo* si) {
  decoder_impl* i;
  (void)si;
  if (!d || !reader_usable(d->reader)) return 0;
  release(d);
  i = (decoder_impl*)calloc(1, sizeof *i);
  if (!i) return 0;
  bridge_init(&i->b, d->reader);
  i->scale = 1.0f;
  i->demux = open_demux(&i->b);
  if (!i->demux) {
    free(i);
    return 0;
  }
  d->impl = i;
  return 1;
}

void ad_decoder_set_seeking(mpdec_decoder* d, mpdec_streaminfo* si, int32_t fast) {
  (void)d; (void)si; (void)fast;
}

void ad_decoder_set_streaminfo(mpdec_decoder* d, mpdec_streaminfo* si) { (void)d; (void)si; }

void ad_decoder_scale_output(mpdec_decoder* d, double factor) {
  if (d && d->impl) ((decoder_impl*)d->impl)->scale = (float)factor;
}

uint32_t ad_decoder_decode(mpdec_decoder* d, float* buffer, uint32_t* vbr_acc, uint32_t* vbr_bits) {
  decoder_impl* i;
  mpc_frame_info fi;
  int empty;
  (void)vbr_acc; (void)vbr_bits;
  if (!d || !d->impl || !buffer) return (uint32_t)-1;
  i = (decoder_impl*)d->impl;
  /* Frames inside the leading silence or right after a seek may carry no samples; a damaged
   * stream that keeps giving none is ended. */
  for (empty = 0;; ++empty) {
    if (empty > 64) return (uint32_t)-1;
    memset(&fi, 0, sizeof fi);
    fi.buffer = buffer;
    if (mpc_demux_decode(i->demux, &fi) != MPC_STATUS_OK) return (uint32_t)-1;
    if (fi.bits == -1) return 0;
    if (fi.samples > MPC_FRAME_LENGTH) return (uint32_t)-1;
    if (fi.samples > 0) break;
  }
  if (i->scale != 1.0f) {
    uint32_t k, n = fi.samples * 2;
    for (k = 0; k < n; ++k) buffer[k] *= i->scale;
  }
  return fi.samples;
}

uint32_t ad_decoder_decode_frame(mpdec_decoder* d, uint32_t* in, uint32_t in_len, float* buffer) {
  (void)d; (void)in; (void)in_len; (void)buffer;
  return (uint32_t)-1;  /* raw frames without their stream are not decoded */
}

int32_t ad_decoder_seek_sample(mpdec_decoder* d, int64_t sample) {
  if (!d || !d->impl || sample < 0) return 0;
  return mpc_demux_seek_sample(((decoder_impl*)d->impl)->demux, (mpc_uint64_t)sample) == MPC_STATUS_OK;
}

int32_t ad_decoder_seek_seconds(mpdec_decoder* d, double seconds) {
  if (!d || !d->impl || !(seconds >= 0)) return 0;
  return mpc_demux_seek_second(((decoder_impl*)d->impl)->demux, seconds) == MPC_STATUS_OK;
}
