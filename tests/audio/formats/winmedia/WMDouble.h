// A double of the Windows Media runtime's writer side (writer, sinks, profile manager and codec
// information), installed through the layer's entry-point seam. It records the calls, the
// profile, the attributes and every sample the layer hands it, and can be told to fail.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "audio/formats/winmedia/libwma1.h"

namespace wmdouble {

struct Format {
  int channels, rate, bits;
  uint32_t bitrate;
  bool lossless = false;
  uint32_t quality = 0;  // "_VBRQUALITY"
};

struct Codec {
  std::wstring name;
  bool vbr;  // "_VBRENABLED" can be set
  std::vector<Format> formats;
};

struct OutFormat {
  int channels, rate, bits;
};

struct State {
  // Set up by the test.
  std::vector<Codec> codecs;
  HRESULT beginResult = S_OK;
  HRESULT openResult = S_OK;  // of the file sink's Open
  HRESULT writeResult = S_OK;
  int failWriteAt = -1;  // the sample that fails (0-based), -1 none
  std::function<void(int)> onWrite;  // called with each sample's number as it is written

  // The reader double (installed with Installed(true)): one audio output whose current format
  // is formats' first, samples of silence for `seconds`, and these header attributes.
  std::vector<OutFormat> formats = {{2, 44100, 16}};
  bool opensOnlyAtByte30 = false;
  HRESULT formatResult = S_OK;     // of GetOutputFormat
  HRESULT setOutputResult = S_OK;  // of SetOutputProps
  bool protectedContent = false;
  QWORD duration = 20000000;  // two seconds
  DWORD bitrate = 0;
  std::map<std::wstring, std::wstring> headerStrings;
  // What the reader was told.
  std::map<std::wstring, DWORD> outputSettings;
  OutFormat chosen{0, 0, 0};
  int opens = 0;

  // Recorded.
  std::vector<std::string> calls;
  std::wstring sinkFile;
  DWORD port = 0, maxClients = 0;
  int protocol = -1;
  int chosenCodec = -1, chosenFormat = -1;  // the configuration added to the profile
  WORD streamNumber = 0;
  std::wstring streamName, connectionName;
  WAVEFORMATEX input{};
  std::map<std::wstring, std::wstring> attributes;
  std::string samples;
  std::vector<QWORD> times;
  IWMStatusCallback* callback = nullptr;  // what the layer registered on the sink

  bool Called(const std::string& c) const;
  int Count(const std::string& c) const;
};

// The state the double's objects record into.
State& Current();

// The double's objects alive now.
int Live();

// Installs the double (all writer entry points; the reader keeps the runtime's) with a fresh
// state and puts the runtime's entry points back when it goes.
class Installed {
 public:
  // Reader: the reader's entry point is the double's too.
  explicit Installed(bool reader = false);
  ~Installed();
  State& state() { return Current(); }

 private:
  TWMVCoreApi old_;
};

// A table of two codecs: a constant-rate one with several stereo/mono formats and a
// variable-rate one with a lossless format.
std::vector<Codec> StandardCodecs();

}  // namespace wmdouble
