// Loader of the Musepack encoding library "libmppenc.dll": loaded for each encode and released
// after it, without the library lock.
#pragma once
#include "audio/formats/mpc/MPCApi.h"

struct TMPPEncLibrary {
  void* Handle = nullptr;
  init_static_t init_static = nullptr;
  init_enc_state_t init_enc_state = nullptr;
  set_callbacks_t set_callbacks = nullptr;
  add_tag_t add_tag = nullptr;
  start_encoder_t start_encoder = nullptr;
  process_block_t process_block = nullptr;
  free_encoder_state_t free_encoder_state = nullptr;

  // Loads the library and resolves its seven entry points; false when the library or one of
  // them is missing (nothing stays loaded then).
  // Threads: the output's worker.
  bool Load();
  // Releases the library when this object loaded it.
  void Release();
  bool Loaded() const { return Handle != nullptr; }
};

// The file loaded ("libmppenc.dll"; tests may stand another in). The messages always name
// "libmppenc.dll".
extern const char* MPPEncLibName;
