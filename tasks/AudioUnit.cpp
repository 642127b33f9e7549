#include "tasks/AudioUnit.h"

#include "audio/devices/AuDXAudio.h"
#include "audio/formats/flac/AuFLAC.h"
#include "audio/formats/mp3/AuLAME.h"
#include "audio/formats/mac/AuMAC.h"
#include "audio/formats/mpc/AuMPC.h"
#include "audio/formats/winmedia/AuMpegAudio.h"
#include "audio/formats/optimfrog/AuOptimFROG.h"
#include "audio/formats/tak/AuTAK.h"
#include "audio/formats/tta/AuTTA.h"
#include "audio/formats/vorbis/AuVorbis.h"
#include "audio/formats/wave/AuWave.h"
#include "audio/formats/wavpack/AuWavPack.h"
#include "audio/formats/winmedia/AuWinMedia.h"
#include "classlib/WideStrings.h"
#include "tasks/Utils.h"

const int32_t SampleRateTable[6] = {44100, 16000, 22050, 32000, 48000, 96000};
const int32_t BitrateTable[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};

TAudioTools* AudioTools = nullptr;

namespace {

struct TTypeRow {
  const char* Name;
  const wchar_t* OutputExt;
};

const TTypeRow TypeRows[12] = {
    {"", L""},        {"WAV", L".wav"}, {"MP3", L".mp3"}, {"OGG", L".ogg"},
    {"FLAC", L".flac"}, {"WMA", L".wma"}, {"TTA", L".tta"}, {"APE", L".ape"},
    {"TAK", L""},     {"OFR", L""},     {"WV", L".wv"},   {"MPC", L".mpc"},
};

// The input of the file's type with its name set, or null (unknown type, no component in this
// build, or a constructor that raised, as the TAK and OptimFROG inputs do without their library).
std::unique_ptr<TAuFileIn> OpenProbe(const WideString& FileName) {
  try {
    std::unique_ptr<TAuFileIn> in = TAudioTools::CreateInput(TUtils::GetFormatByExtension(FileName) & 127);
    if (in) in->SetWideFileName(FileName);
    return in;
  } catch (...) {
    return nullptr;
  }
}

template <typename T, typename F>
T Ask(F&& Getter) {
  try {
    return Getter();
  } catch (...) {
    return T(0);
  }
}

int UnitCounter = 0;

}  // namespace

AnsiString TAudioTools::TypeName(TAudioFileType Type) {
  Type &= 127;
  return Type < 12 ? TypeRows[Type].Name : "";
}

WideString TAudioTools::OutputExtension(TAudioFileType Type) {
  Type &= 127;
  return Type < 12 ? TypeRows[Type].OutputExt : L"";
}

std::unique_ptr<TAuFileIn> TAudioTools::CreateInput(TAudioFileType Type, TComponent* Owner) {
  switch (Type & 127) {
    case ftWAV: return std::make_unique<TWaveIn>(Owner);
    case ftMP3: return std::make_unique<TMP3In>(Owner);
    case ftOGG: return std::make_unique<TVorbisIn>(Owner);
    case ftFLAC: return std::make_unique<TFLACIn>(Owner);
    case ftWMA: return std::make_unique<TWMIn>(Owner);
    case ftTTA: return std::make_unique<TTTAIn>(Owner);
    case ftAPE: return std::make_unique<TMACIn>(Owner);
    case ftTAK: return std::make_unique<TTAKIn>(Owner);
    case ftOFR: return std::make_unique<TOFRIn>(Owner);
    case ftWV: return std::make_unique<TWVIn>(Owner);
    case ftMPC: return std::make_unique<TMPCIn>(Owner);
    default: return nullptr;
  }
}

std::unique_ptr<TAuFileOut> TAudioTools::CreateOutput(TAudioFileType Type, TComponent* Owner) {
  switch (Type & 127) {
    case ftWAV: return std::make_unique<TWaveOut>(Owner);
    case ftMP3: return std::make_unique<TMP3Out>(Owner);
    case ftOGG: return std::make_unique<TVorbisOut>(Owner);
    case ftFLAC: return std::make_unique<TFLACOut>(Owner);
    case ftWMA: {
      // WMA outputs are lossless, variable-rate.
      auto out = std::make_unique<TWMAOut>(Owner);
      out->SetLossless(true);
      out->SetVBR(true);
      return out;
    }
    case ftTTA: return std::make_unique<TTTAOut>(Owner);
    case ftAPE: return std::make_unique<TMACOut>(Owner);
    case ftWV: return std::make_unique<TWVOut>(Owner);
    case ftMPC: return std::make_unique<TMPCOut>(Owner);
    default: return nullptr;
  }
}

bool TAudioTools::IsValidFile(const WideString& FileName) {
  std::unique_ptr<TAuFileIn> in = OpenProbe(FileName);
  return in && in->Valid();
}

int32_t TAudioTools::GetDuration(const WideString& FileName) {
  if ((TUtils::GetFormatByExtension(FileName) & 127) == ftOFR) return 0;
  std::unique_ptr<TAuFileIn> in = OpenProbe(FileName);
  if (!in || !in->Valid()) return 0;
  return Ask<int32_t>([&] { return in->TotalTime(); });
}

bool TAudioTools::GetInformation(const WideString& FileName, TAudioInformation& Info) {
  const TAudioFileType type = TUtils::GetFormatByExtension(FileName) & 127;
  Info.FormatName = GetTypeName(FileName);
  Info.FileSize = TUtils::GetFileSize(FileName);
  if (type == ftUnknown) return false;
  std::unique_ptr<TAuFileIn> in = OpenProbe(FileName);
  if (!in) {
    Info.SampleRate = Info.BitsPerSample = Info.Channels = 0;
    Info.TotalTime = Info.TotalSamples = 0;
    return true;
  }
  Info.SampleRate = Ask<int32_t>([&] { return in->SampleRate(); });
  switch (type) {
    case ftMP3:
    case ftWMA: Info.BitRate = Ask<int32_t>([&] { return (int32_t)static_cast<TWMIn*>(in.get())->GetBitRate(); }); break;
    case ftOGG: Info.BitRate = Ask<int32_t>([&] { return static_cast<TVorbisIn*>(in.get())->GetBitRate(); }); break;
    case ftAPE: Info.BitRate = Ask<int32_t>([&] { return static_cast<TMACIn*>(in.get())->GetBitRate(); }); break;
    case ftMPC: Info.BitRate = Ask<int32_t>([&] { return static_cast<TMPCIn*>(in.get())->GetBitRate(); }); break;
    default: break;
  }
  Info.BitsPerSample = Ask<int32_t>([&] { return in->BitsPerSample(); });
  Info.Channels = Ask<int32_t>([&] { return in->Channels(); });
  Info.TotalTime = (uint32_t)Ask<int32_t>([&] { return in->TotalTime(); });
  Info.TotalSamples = Ask<int64_t>([&] { return in->TotalSamples(); });
  return true;
}

int32_t MaxOutputBits(TAudioFileType Type) {
  switch (Type & 127) {
    case ftWMA:
    case ftMPC: return 16;
    case ftFLAC:
    case ftTTA:
    case ftAPE: return 24;
    default: return 32;
  }
}

AnsiString TAudioTools::GetTypeName(const WideString& FileName) {
  return TypeName(TUtils::GetFormatByExtension(FileName));
}

int32_t TAudioTools::GetSampleRate(uint8_t Index) {
  Index &= 127;
  return Index <= 5 ? SampleRateTable[Index] : 0;
}

int32_t TAudioTools::GetBitrate(uint8_t Index) {
  Index &= 127;
  return Index <= 15 ? BitrateTable[Index] : 0;
}

bool TAudioTools::GetCaptureDevices(TWideStrings* List) {
  List->Clear();
  TDXAudioIn capture(nullptr);
  for (int32_t i = 0; i < capture.DeviceCount(); ++i) List->Add(AnsiToWide(capture.GetDeviceName(i)));
  return true;
}

void AudioUnitInitialize() {
  if (UnitCounter++ == 0) AudioTools = new TAudioTools();
}

void AudioUnitFinalize() {
  if (UnitCounter == 0 || --UnitCounter > 0) return;
  delete AudioTools;
  AudioTools = nullptr;
}
