// PNG files built byte by byte for the tests, loading and saving through memory, and the
// reference decoder (python3-png, run natively).
#pragma once
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "png/PngCodec.h"

namespace pngtest {

constexpr TColor Rgb(uint8_t R, uint8_t G, uint8_t B) { return TColor(R | (G << 8) | (B << 16)); }
std::string Be32(uint32_t V);
// A chunk with its length and CRC.
std::string Chunk(const std::string& Name, const std::string& Data);
std::string Signature();
std::string Ihdr(uint32_t W, uint32_t H, uint8_t Depth, uint8_t ColorType, uint8_t Interlace = 0);
std::string Zlib(const std::string& Raw, int Level = 9);
std::string Inflate(const std::string& Packed);

// Bits per pixel of a colour type / depth pair.
int PixelBits(uint8_t ColorType, uint8_t Depth);
// Deterministic raw image data (filter bytes included) for a W × H image, every row filtered with
// the next of Filters in turn (types 0-4; applied here, in the forward direction), interlaced
// with Adam7 when Interlace is set. Samples come from Seed.
std::string RawImage(uint32_t W, uint32_t H, uint8_t Depth, uint8_t ColorType, bool Interlace,
                     const std::vector<uint8_t>& Filters, uint32_t Seed);
// A complete file: IHDR, then Extra (ancillary chunks, PLTE...), one IDAT, IEND.
std::string SimplePng(uint32_t W, uint32_t H, uint8_t Depth, uint8_t ColorType, const std::string& Extra = "",
                      bool Interlace = false, uint32_t Seed = 1);
// A palette of N entries (R, G, B derived from the index).
std::string Palette(int N);

std::unique_ptr<TPNGObject> Load(const std::string& Bytes);
std::string Save(TPNGObject& Png);
// "" when Bytes load; else "<class>: <message>".
std::string LoadError(const std::string& Bytes);
std::string ErrorText(const Exception& E);
// The names of the image's chunks in order, e.g. "IHDR PLTE IDAT IEND".
std::string ChunkNames(TPNGObject& Png);

// The pixel as the codec keeps it: red, green, blue (GetPixelColor) and the alpha (alpha plane,
// tRNS alpha of a palette index, else 255).
void PixelRGBA(TPNGObject& Png, uint32_t X, uint32_t Y, uint8_t Out[4]);

// A decoding by the reference decoder: W, H, colour type, depth and 8-bit RGBA before gamma.
struct TReference {
  std::string Error;  // the decoder's complaint, or ""
  uint32_t Width = 0, Height = 0;
  int ColorType = 0, Depth = 0;
  std::vector<uint8_t> RGBA;
};
// Runs the reference decoder on native paths; the map is keyed by those paths. ADD_FAILURE when
// the decoder can't run.
std::map<std::string, TReference> ReferenceDecode(const std::vector<std::string>& UnixPaths);
// Compares Png's pixels with the reference as the codec stores them (colour through the decode
// gamma table, grey + alpha as stored); "" when equal, else where they differ.
std::string CompareWithReference(TPNGObject& Png, const TReference& Ref);

// Windows path of a native one (Wine's Z: drive).
std::wstring WinPath(const std::string& UnixPath);
std::string ReadNative(const std::string& UnixPath);

}  // namespace pngtest
