// Audio file types, the quality tables and the output-settings record shared by the convert
// window and the conversion worker, and the probes that ask a file's codec what it holds.
#pragma once
#include <cstdint>
#include <memory>

#include "audio/engine/AuClasses.h"
#include "classlib/Classes.h"

class TWideStrings;

// A one-byte format code; callers mask it with 127 before use.
using TAudioFileType = uint8_t;
constexpr TAudioFileType ftUnknown = 0;
constexpr TAudioFileType ftWAV = 1;
constexpr TAudioFileType ftMP3 = 2;
constexpr TAudioFileType ftOGG = 3;
constexpr TAudioFileType ftFLAC = 4;
constexpr TAudioFileType ftWMA = 5;
constexpr TAudioFileType ftTTA = 6;
constexpr TAudioFileType ftAPE = 7;
constexpr TAudioFileType ftTAK = 8;
constexpr TAudioFileType ftOFR = 9;
constexpr TAudioFileType ftWV = 10;
constexpr TAudioFileType ftMPC = 11;

using TOutputQuality = uint8_t;
constexpr TOutputQuality oqKeep = 0;
constexpr TOutputQuality oqCD = 1;
constexpr TOutputQuality oqHigh = 2;
constexpr TOutputQuality oqMedium = 3;
constexpr TOutputQuality oqLow = 4;
constexpr TOutputQuality oqCustom = 5;

// What the convert window hands to the conversion worker (copied by value).
struct TOutputParams {
  uint8_t Format = ftWAV;        // a type with an output component
  uint8_t Quality = oqKeep;
  uint8_t BitrateIndex = 9;      // code into BitrateTable (1..15)
  uint8_t SampleRateIndex = 0;   // index into SampleRateTable (0..5)
  int32_t Channels = 2;          // 2 stereo, 1 mono
  WideString OutputFolder;       // always ends in "\"
};

// index -> Hz, in the order of the rate combo boxes
extern const int32_t SampleRateTable[6];
// code -> kbit/s; code k is also the ordinal of the MP3 output's bit-rate member
extern const int32_t BitrateTable[16];

struct TAudioInformation {
  AnsiString FormatName;
  int32_t SampleRate = 0;
  int32_t BitsPerSample = 0;
  int32_t BitRate = 0;
  int32_t Channels = 0;
  int64_t TotalTime = 0;     // whole seconds
  int64_t TotalSamples = 0;  // frames
  uint32_t FileSize = 0;
};

// The probes. Each creates a fresh input component of the file's type, asks it and frees it;
// none raises: a missing codec library or a file the codec rejects reads as not valid.
// Threads: any thread; each call works on components of its own.
class TAudioTools : public TObject {
 public:
  const char* ClassName() const override { return "TAudioTools"; }

  static bool IsValidFile(const WideString& FileName);
  // Whole seconds; 0 when not valid, for unknown types and for OptimFROG files.
  static int32_t GetDuration(const WideString& FileName);
  // True for every known type, False for an unknown one.
  static bool GetInformation(const WideString& FileName, TAudioInformation& Info);
  static AnsiString GetTypeName(const WideString& FileName);
  static int32_t GetSampleRate(uint8_t Index);
  static int32_t GetBitrate(uint8_t Index);
  // Clears List and adds the description of every capture device in device order; True.
  static bool GetCaptureDevices(TWideStrings* List);

  // The name of a type code ("WAV", ...; empty for an unknown code) and the extension of its
  // output (".wav", ...; empty when the type has no output).
  static AnsiString TypeName(TAudioFileType Type);
  static WideString OutputExtension(TAudioFileType Type);
  // A new input or output component of the type, or null when the type has none in this build.
  // Raises what the component's constructor raises.
  static std::unique_ptr<TAuFileIn> CreateInput(TAudioFileType Type, TComponent* Owner = nullptr);
  static std::unique_ptr<TAuFileOut> CreateOutput(TAudioFileType Type, TComponent* Owner = nullptr);
};

extern TAudioTools* AudioTools;

// The widest samples the output of a type takes (16 for WMA and Musepack, 24 for FLAC, TTA and
// Monkey's Audio, else 32): the workers bring wider sources down to it.
int32_t MaxOutputBits(TAudioFileType Type);

// The unit's start-up and shutdown (counted: only the first start-up and the last shutdown act).
void AudioUnitInitialize();
void AudioUnitFinalize();
