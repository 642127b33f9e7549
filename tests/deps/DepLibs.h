// The codec libraries as the program binds them: each loaded by name from the executable's folder,
// each entry point resolved by name into a pointer of the library's own (cdecl) type.
#pragma once

#include <windows.h>

#include <cwchar>
#include <string>

#include <BladeMP3EncDLL.h>
#include <FLAC/stream_decoder.h>
#include <FLAC/stream_encoder.h>
#include <ogg/ogg.h>
#include <taglib/tag_c.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>
#include <wavpack/wavpack.h>

static_assert(sizeof(BE_CONFIG) == 331, "the installed LAME header must pack its configuration record");

class DepLib {
 public:
  explicit DepLib(const wchar_t* name) : name_(name) {
    wchar_t exe[MAX_PATH];
    DWORD n = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring path(exe, n);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + name;
    handle_ = LoadLibraryW(path.c_str());
    if (!handle_) {
      loadError_ = GetLastError();
      missing_ = std::string(name, name + wcslen(name)) + " did not load (error " + std::to_string(loadError_) + ")";
    }
  }
  HMODULE Handle() const { return handle_; }
  DWORD LoadError() const { return loadError_; }
  // The names that could not be resolved, space separated (or why the DLL did not load); empty
  // when all were found.
  const std::string& Missing() const { return missing_; }
  bool Complete() const { return handle_ && missing_.empty(); }

 protected:
  template <class F>
  void Resolve(F& fn, const char* name) {
    fn = handle_ ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle_, name))) : nullptr;
    if (handle_ && !fn) missing_ += std::string(missing_.empty() ? "" : " ") + name;
  }

 private:
  std::wstring name_;
  HMODULE handle_ = nullptr;
  DWORD loadError_ = 0;
  std::string missing_;
};

#define DEP_DECLARE(fn) decltype(&::fn) fn = nullptr;
#define DEP_RESOLVE(fn) Resolve(fn, #fn);

// The LAME stream interface: the calls the MP3 output makes, and the two it resolves but never calls.
struct LameLib : DepLib {
  BEINITSTREAM beInitStream = nullptr;
  BEENCODECHUNK beEncodeChunk = nullptr;
  BEDEINITSTREAM beDeinitStream = nullptr;
  BECLOSESTREAM beCloseStream = nullptr;
  BEWRITEVBRHEADER beWriteVBRHeader = nullptr;
  BE_ERR (*beFlushNoGap)(HBE_STREAM, PBYTE, PDWORD) = nullptr;
  BEWRITEINFOTAG beWriteInfoTag = nullptr;
  LameLib() : DepLib(L"lame_enc.dll") {
    Resolve(beInitStream, "beInitStream");
    Resolve(beEncodeChunk, "beEncodeChunk");
    Resolve(beDeinitStream, "beDeinitStream");
    Resolve(beCloseStream, "beCloseStream");
    Resolve(beWriteVBRHeader, "beWriteVBRHeader");
    Resolve(beFlushNoGap, "beFlushNoGap");
    Resolve(beWriteInfoTag, "beWriteInfoTag");
  }
};

// The 29 entry points the TagLib binding resolves.
#define TAGLIB_FUNCS(X)                                                                                     \
  X(taglib_audioproperties_bitrate) X(taglib_audioproperties_channels) X(taglib_audioproperties_length)      \
  X(taglib_audioproperties_samplerate) X(taglib_file_audioproperties) X(taglib_file_free)                    \
  X(taglib_file_is_valid) X(taglib_file_new) X(taglib_file_new_type) X(taglib_file_save) X(taglib_file_tag) \
  X(taglib_id3v2_set_default_text_encoding) X(taglib_set_string_management_enabled)                         \
  X(taglib_set_strings_unicode) X(taglib_tag_album) X(taglib_tag_artist) X(taglib_tag_comment)               \
  X(taglib_tag_free_strings) X(taglib_tag_genre) X(taglib_tag_set_album) X(taglib_tag_set_artist)           \
  X(taglib_tag_set_comment) X(taglib_tag_set_genre) X(taglib_tag_set_title) X(taglib_tag_set_track)         \
  X(taglib_tag_set_year) X(taglib_tag_title) X(taglib_tag_track) X(taglib_tag_year)

struct TagLibC : DepLib {
  TAGLIB_FUNCS(DEP_DECLARE)
  TagLibC() : DepLib(L"libtag_c.dll") { TAGLIB_FUNCS(DEP_RESOLVE) }
};

#define OGG_FUNCS(X) \
  X(ogg_stream_init) X(ogg_stream_packetin) X(ogg_stream_flush) X(ogg_stream_pageout) X(ogg_page_eos) X(ogg_stream_clear)

struct OggLib : DepLib {
  OGG_FUNCS(DEP_DECLARE)
  OggLib() : DepLib(L"ogg.dll") { OGG_FUNCS(DEP_RESOLVE) }
};

#define VORBIS_FUNCS(X)                                                                                   \
  X(vorbis_info_init) X(vorbis_comment_init) X(vorbis_comment_add_tag) X(vorbis_analysis_init)            \
  X(vorbis_block_init) X(vorbis_analysis_headerout) X(vorbis_analysis_buffer) X(vorbis_analysis_wrote)    \
  X(vorbis_analysis_blockout) X(vorbis_analysis) X(vorbis_bitrate_addblock) X(vorbis_bitrate_flushpacket) \
  X(vorbis_block_clear) X(vorbis_dsp_clear) X(vorbis_comment_clear) X(vorbis_info_clear)

struct VorbisLib : DepLib {
  VORBIS_FUNCS(DEP_DECLARE)
  VorbisLib() : DepLib(L"vorbis.dll") { VORBIS_FUNCS(DEP_RESOLVE) }
};

#define VORBISFILE_FUNCS(X) \
  X(ov_test_callbacks) X(ov_test_open) X(ov_comment) X(ov_info) X(ov_pcm_total) X(ov_read) X(ov_pcm_seek) X(ov_clear)

struct VorbisFileLib : DepLib {
  VORBISFILE_FUNCS(DEP_DECLARE)
  VorbisFileLib() : DepLib(L"vorbisfile.dll") { VORBISFILE_FUNCS(DEP_RESOLVE) }
};

#define VORBISENC_FUNCS(X) X(vorbis_encode_setup_vbr) X(vorbis_encode_setup_init) X(vorbis_encode_init)

struct VorbisEncLib : DepLib {
  VORBISENC_FUNCS(DEP_DECLARE)
  VorbisEncLib() : DepLib(L"vorbisenc.dll") { VORBISENC_FUNCS(DEP_RESOLVE) }
};

#define FLAC_FUNCS(X)                                                                                             \
  X(FLAC__stream_encoder_new) X(FLAC__stream_encoder_set_verify) X(FLAC__stream_encoder_set_channels)              \
  X(FLAC__stream_encoder_set_bits_per_sample) X(FLAC__stream_encoder_set_sample_rate)                              \
  X(FLAC__stream_encoder_set_do_mid_side_stereo) X(FLAC__stream_encoder_set_loose_mid_side_stereo)                 \
  X(FLAC__stream_encoder_set_blocksize) X(FLAC__stream_encoder_set_max_lpc_order)                                  \
  X(FLAC__stream_encoder_set_qlp_coeff_precision) X(FLAC__stream_encoder_set_do_qlp_coeff_prec_search)             \
  X(FLAC__stream_encoder_set_min_residual_partition_order) X(FLAC__stream_encoder_set_max_residual_partition_order) \
  X(FLAC__stream_encoder_set_do_exhaustive_model_search) X(FLAC__stream_encoder_set_compression_level)             \
  X(FLAC__stream_encoder_set_total_samples_estimate) X(FLAC__stream_encoder_init_stream)                           \
  X(FLAC__stream_encoder_process_interleaved) X(FLAC__stream_encoder_finish) X(FLAC__stream_encoder_delete)        \
  X(FLAC__stream_decoder_new) X(FLAC__stream_decoder_set_md5_checking)                                             \
  X(FLAC__stream_decoder_set_metadata_respond_all) X(FLAC__stream_decoder_init_stream)                             \
  X(FLAC__stream_decoder_process_single) X(FLAC__stream_decoder_get_state) X(FLAC__stream_decoder_seek_absolute)   \
  X(FLAC__stream_decoder_reset) X(FLAC__stream_decoder_finish) X(FLAC__stream_decoder_delete)

struct FlacLib : DepLib {
  FLAC_FUNCS(DEP_DECLARE)
  FlacLib() : DepLib(L"libFLAC.dll") { FLAC_FUNCS(DEP_RESOLVE) }
};

#define WAVPACK_FUNCS(X)                                                                                     \
  X(WavpackOpenFileInputEx) X(WavpackGetMode) X(WavpackGetNumChannels) X(WavpackGetSampleRate)               \
  X(WavpackGetBitsPerSample) X(WavpackGetNumSamples) X(WavpackGetTagItem) X(WavpackUnpackSamples)            \
  X(WavpackSeekSample) X(WavpackCloseFile) X(WavpackOpenFileOutput) X(WavpackSetConfiguration)               \
  X(WavpackPackInit) X(WavpackPackSamples) X(WavpackFlushSamples) X(WavpackAppendTagItem) X(WavpackWriteTag) \
  X(WavpackGetErrorMessage)

struct WavpackLib : DepLib {
  WAVPACK_FUNCS(DEP_DECLARE)
  WavpackLib() : DepLib(L"WavpackDLL.dll") { WAVPACK_FUNCS(DEP_RESOLVE) }
};
