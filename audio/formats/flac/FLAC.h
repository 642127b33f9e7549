// The binding of the FLAC library, "libFLAC.dll": loaded once per process under LoadLibCS,
// the stream encoder's and decoder's entry points resolved by name (cdecl).
#pragma once
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>

#include "audio/engine/CodecLibrary.h"

// Raised by the binding: a missing entry point, named.
class EFLACException : public EAuException {
 public:
  using EAuException::EAuException;
  const char* ClassName() const override { return "EFLACException"; }
};

#define FLAC_ENTRIES(X)                                                                                              \
  X(FLAC__stream_encoder_new) X(FLAC__stream_encoder_delete) X(FLAC__stream_encoder_set_verify)                     \
  X(FLAC__stream_encoder_set_channels) X(FLAC__stream_encoder_set_bits_per_sample)                                  \
  X(FLAC__stream_encoder_set_sample_rate) X(FLAC__stream_encoder_set_do_mid_side_stereo)                            \
  X(FLAC__stream_encoder_set_loose_mid_side_stereo) X(FLAC__stream_encoder_set_blocksize)                           \
  X(FLAC__stream_encoder_set_max_lpc_order) X(FLAC__stream_encoder_set_qlp_coeff_precision)                         \
  X(FLAC__stream_encoder_set_do_qlp_coeff_prec_search) X(FLAC__stream_encoder_set_min_residual_partition_order)     \
  X(FLAC__stream_encoder_set_max_residual_partition_order) X(FLAC__stream_encoder_set_do_exhaustive_model_search)   \
  X(FLAC__stream_encoder_set_compression_level) X(FLAC__stream_encoder_set_total_samples_estimate)                  \
  X(FLAC__stream_encoder_get_state) X(FLAC__stream_encoder_init_stream) X(FLAC__stream_encoder_process_interleaved) \
  X(FLAC__stream_encoder_finish) X(FLAC__stream_decoder_new) X(FLAC__stream_decoder_delete)                         \
  X(FLAC__stream_decoder_set_md5_checking) X(FLAC__stream_decoder_set_metadata_respond_all)                         \
  X(FLAC__stream_decoder_init_stream) X(FLAC__stream_decoder_process_single) X(FLAC__stream_decoder_get_state)      \
  X(FLAC__stream_decoder_seek_absolute) X(FLAC__stream_decoder_reset) X(FLAC__stream_decoder_flush)                 \
  X(FLAC__stream_decoder_finish)

namespace flac {

struct TEntries {
  FLAC_ENTRIES(AU_ENTRY_FIELD)
};
extern TEntries Entries;
extern const char* const LibraryName;  // "libFLAC.dll"

// Loads the library once; true when it is loaded. Threads: any (takes LoadLibCS).
bool Load();
// Raises EFLACException naming an entry point the library lacks.
[[noreturn]] void Missing(const char* Name);

}  // namespace flac

// The entry point fn, or EFLACException naming it when the library lacks it.
#define FLAC_CALL(fn) (flac::Entries.fn ? flac::Entries.fn : (flac::Missing(#fn), flac::Entries.fn))
