#include "common/DrainInput.h"

std::string ReadAll(TAuInput* In, uint32_t Ask) {
  std::string out;
  In->Init();
  for (;;) {
    void* p = nullptr;
    uint32_t n = Ask;
    In->GetData(p, n);
    if (n == 0) break;
    out.append(static_cast<const char*>(p), n);
  }
  In->Flush();
  return out;
}

std::vector<uint8_t> Drain(TAuInput* In, uint32_t Ask) {
  const std::string s = ReadAll(In, Ask);
  return std::vector<uint8_t>(s.begin(), s.end());
}
