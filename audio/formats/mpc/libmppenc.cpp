#include "audio/formats/mpc/libmppenc.h"

#include "classlib/WinApi.h"

const char* MPPEncLibName = "libmppenc.dll";

namespace {
template <class F>
bool Resolve(HMODULE h, F& Fn, const char* Name) {
  Fn = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(h, Name)));
  return Fn != nullptr;
}
}  // namespace

bool TMPPEncLibrary::Load() {
  Release();
  HMODULE h = LoadLibraryA(MPPEncLibName);
  if (!h) return false;
  bool ok = Resolve(h, init_static, "init_static") & Resolve(h, init_enc_state, "init_enc_state") &
            Resolve(h, set_callbacks, "set_callbacks") & Resolve(h, add_tag, "add_tag") &
            Resolve(h, start_encoder, "start_encoder") & Resolve(h, process_block, "process_block") &
            Resolve(h, free_encoder_state, "free_encoder_state");
  if (!ok) {
    FreeLibrary(h);
    *this = TMPPEncLibrary();
    return false;
  }
  Handle = h;
  return true;
}

void TMPPEncLibrary::Release() {
  if (Handle) FreeLibrary(static_cast<HMODULE>(Handle));
  *this = TMPPEncLibrary();
}
