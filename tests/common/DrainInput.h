// Pulling an input to its end, for every audio test: Init, pulls of at most Ask bytes until one
// delivers nothing, then Flush.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "audio/engine/AuClasses.h"

std::string ReadAll(TAuInput* In, uint32_t Ask = 5000);
// The same, as bytes.
std::vector<uint8_t> Drain(TAuInput* In, uint32_t Ask);
