#include "TTACodec.h"

#include <emmintrin.h>
#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>

namespace tta {

namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[i] = c;
  }
  return t;
}
constexpr std::array<uint32_t, 256> CrcTable = MakeCrcTable();

// Filter shift by bytes per sample.
constexpr int32_t FilterShift[4] = {10, 9, 10, 12};
// Largest frame we accept from a file (the float layout of 16 channels at 1 MHz is below it).
constexpr uint32_t MaxFrameBytes = 128u << 20;
constexpr uint32_t MaxRate = 1000000;
// Seek-table entries reserved for an expected length; beyond it the data moves at the end.
constexpr uint32_t MaxReserved = 1u << 20;

inline uint32_t Shift1(uint32_t k) { return k < 31 ? 1u << k : 0x80000000u; }
inline uint32_t Shift16(uint32_t k) { return Shift1(k + 4); }

inline uint32_t Get32(const uint8_t* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}
inline uint16_t Get16(const uint8_t* p) { return (uint16_t)(p[0] | p[1] << 8); }
inline void Put32(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
  p[2] = (uint8_t)(v >> 16);
  p[3] = (uint8_t)(v >> 24);
}
inline void Put16(uint8_t* p, uint32_t v) {
  p[0] = (uint8_t)v;
  p[1] = (uint8_t)(v >> 8);
}

// The filter's prediction step shared by both directions: adapts the weights to the sign of the
// last residual, shifts the history and returns the prediction. SSE2, four lanes at a time;
// the weights move without branches (the residual's sign is random).
inline __m128i LoadU(const int32_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
inline void StoreU(int32_t* p, __m128i v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
// Four 32-bit products, wrapped to 32 bits, summed in pairs into the low halves of two 64-bit
// lanes (only the low 32 bits of the total count).
inline __m128i MulPairs(__m128i a, __m128i b) {
  const __m128i even = _mm_mul_epu32(a, b);
  const __m128i odd = _mm_mul_epu32(_mm_srli_epi64(a, 32), _mm_srli_epi64(b, 32));
  return _mm_add_epi64(even, odd);
}

inline int32_t FilterPredict(ChannelState& s) {
  const __m128i neg = _mm_set1_epi32(s.error >> 31);                           // all ones when negative
  const __m128i pos = _mm_set1_epi32((int32_t)((0 - (int64_t)s.error) >> 32));  // all ones when positive
  const __m128i dx0 = LoadU(s.dx), dx1 = LoadU(s.dx + 4);
  const __m128i qm0 = _mm_sub_epi32(_mm_add_epi32(LoadU(s.qm), _mm_and_si128(dx0, pos)), _mm_and_si128(dx0, neg));
  const __m128i qm1 = _mm_sub_epi32(_mm_add_epi32(LoadU(s.qm + 4), _mm_and_si128(dx1, pos)), _mm_and_si128(dx1, neg));
  StoreU(s.qm, qm0);
  StoreU(s.qm + 4, qm1);
  const __m128i dl1 = LoadU(s.dl + 4);
  const __m128i acc = _mm_add_epi64(MulPairs(LoadU(s.dl), qm0), MulPairs(dl1, qm1));
  const uint32_t sum = (uint32_t)s.round + (uint32_t)_mm_cvtsi128_si32(acc) +
                       (uint32_t)_mm_cvtsi128_si32(_mm_unpackhi_epi64(acc, acc));
  // History: the first four move down one place; the last four of dx follow from dl's.
  StoreU(s.dx, LoadU(s.dx + 1));
  StoreU(s.dl, LoadU(s.dl + 1));
  __m128i d = _mm_or_si128(_mm_srai_epi32(dl1, 30), _mm_set_epi32(4, 2, 2, 1));
  StoreU(s.dx + 4, _mm_and_si128(d, _mm_set_epi32(~3, ~1, ~1, ~0)));
  return (int32_t)sum >> s.shift;
}

// The history update with the reconstructed value.
inline void FilterUpdate(ChannelState& s, int32_t Value) {
  uint32_t* l = reinterpret_cast<uint32_t*>(s.dl);
  l[4] = 0u - l[5];
  l[5] = 0u - l[6];
  l[6] = (uint32_t)Value - l[7];
  l[7] = (uint32_t)Value;
  l[5] += l[6];
  l[4] += l[5];
}

// Previous × (2^k − 1) / 2^k rounded down, in 32 bits: Previous + floor(−Previous / 2^k).
inline int32_t FixedPrediction(int32_t Previous, int Bytes) {
  const int32_t neg = (int32_t)(0u - (uint32_t)Previous);
  switch (Bytes) {
    case 1: return (int32_t)((uint32_t)Previous + (uint32_t)(neg >> 4));
    case 2:
    case 3: return (int32_t)((uint32_t)Previous + (uint32_t)(neg >> 5));
    default: return Previous;
  }
}

inline void AdaptRice(uint32_t& k, uint32_t& sum, uint32_t value) {
  sum += value - (sum >> 4);
  if (k > 0 && sum < Shift16(k))
    --k;
  else if (sum > Shift16(k + 1))
    ++k;
}

// Bits least significant first, read by bit position from 32-bit words: cheap on 32-bit x86.
// The buffer must have ReadPadding readable bytes after the data; reading past the data
// raises.
constexpr uint32_t ReadPadding = 8;

class BitReader {
 public:
  BitReader(const uint8_t* p, uint32_t bytes) : p_(p), limit_((uint64_t)bytes * 8) {}
  uint32_t Bits(uint32_t k) {  // k <= 31
    uint32_t v;
    if (k <= 25) {
      v = Peek() & ((1u << k) - 1);
      pos_ += k;
    } else {
      v = Peek() & 0xFFFF;
      pos_ += 16;
      v |= (Peek() & ((1u << (k - 16)) - 1)) << 16;
      pos_ += k - 16;
    }
    if (pos_ > limit_) throw TTAError("The frame data is damaged");
    return v;
  }
  // The count of 1 bits before the next 0 bit, which is consumed.
  uint32_t Unary() {
    uint32_t count = 0;
    for (;;) {
      const uint32_t zeros = ~Peek() & 0x1FFFFFFu;  // 25 bits are always there
      if (zeros) {
        const uint32_t z = (uint32_t)__builtin_ctz(zeros);
        count += z;
        pos_ += z + 1;
        break;
      }
      count += 25;
      pos_ += 25;
      if (pos_ > limit_) break;
    }
    if (pos_ > limit_) throw TTAError("The frame data is damaged");
    return count;
  }

 private:
  uint32_t Peek() const {
    uint32_t w;
    std::memcpy(&w, p_ + (size_t)(pos_ >> 3), 4);
    return w >> (pos_ & 7);
  }
  const uint8_t* p_;
  uint64_t limit_;
  uint64_t pos_ = 0;
};

// Bits least significant first, ORed into 32-bit words by bit position (cheap on 32-bit x86).
// The buffer is kept zero ahead of the position and grows as needed.
class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>& out) : out_(out) { out_.assign(std::max<size_t>(out_.capacity(), 4096), 0); }
  void Put(uint32_t value, uint32_t count) {  // count <= 25, value within count bits
    const size_t at = (size_t)(pos_ >> 3);
    if (at + 8 > out_.size()) out_.resize(out_.size() * 2, 0);
    uint32_t w;
    std::memcpy(&w, out_.data() + at, 4);
    w |= value << (pos_ & 7);
    std::memcpy(out_.data() + at, &w, 4);
    pos_ += count;
  }
  void Ones(uint32_t count) {
    while (count >= 24) {
      Put(0xFFFFFFu, 24);
      count -= 24;
    }
    if (count) Put((1u << count) - 1, count);
  }
  // A 0 bit, then the low K bits of Value.
  void StopAndBits(uint32_t Value, uint32_t K) {
    if (K < 25) {
      Put((Value & ((1u << K) - 1)) << 1, K + 1);
    } else {
      Put(0, 1);
      Put(Value & 0xFFFF, 16);
      Put((Value >> 16) & ((1u << (K - 16)) - 1), K - 16);
    }
  }
  // Cuts the buffer to the bytes written.
  void Flush() { out_.resize((size_t)((pos_ + 7) >> 3)); }

 private:
  std::vector<uint8_t>& out_;
  uint64_t pos_ = 0;
};

}  // namespace

uint32_t Crc32(const uint8_t* Data, size_t Count) {
  uint32_t c = 0xFFFFFFFFu;
  while (Count--) c = CrcTable[(c ^ *Data++) & 0xFF] ^ (c >> 8);
  return c ^ 0xFFFFFFFFu;
}

void ChannelState::Reset(int BytesPerSample) {
  *this = ChannelState();
  shift = FilterShift[BytesPerSample - 1];
  round = 1 << (shift - 1);
  sum0 = sum1 = Shift16(10);
}

// ---------------------------------------------------------------------------------------------
// HandleFile

int64_t HandleFile::Tell() {
  LARGE_INTEGER z{}, pos{};
  if (!SetFilePointerEx(h_, z, &pos, FILE_CURRENT)) throw TTAError("Cannot position the file");
  return pos.QuadPart;
}

void HandleFile::SeekTo(int64_t Pos) {
  LARGE_INTEGER p{};
  p.QuadPart = Pos;
  if (!SetFilePointerEx(h_, p, nullptr, FILE_BEGIN)) throw TTAError("Cannot position the file");
}

int64_t HandleFile::Size() {
  LARGE_INTEGER s{};
  if (!GetFileSizeEx(h_, &s)) throw TTAError("Cannot get the file size");
  return s.QuadPart;
}

void HandleFile::ReadExact(void* Buf, uint32_t Count) {
  auto* p = static_cast<uint8_t*>(Buf);
  while (Count > 0) {
    DWORD got = 0;
    if (!ReadFile(h_, p, Count, &got, nullptr)) throw TTAError("Cannot read the file");
    if (got == 0) throw TTAError("The file is cut short");
    p += got;
    Count -= got;
  }
}

void HandleFile::WriteAll(const void* Buf, uint32_t Count) {
  auto* p = static_cast<const uint8_t*>(Buf);
  while (Count > 0) {
    DWORD put = 0;
    if (!WriteFile(h_, p, Count, &put, nullptr) || put == 0) throw TTAError("Cannot write the file");
    p += put;
    Count -= put;
  }
}

void HandleFile::Truncate() {
  if (!SetEndOfFile(h_)) throw TTAError("Cannot set the end of the file");
}

// ---------------------------------------------------------------------------------------------
// Decoder

Decoder::Decoder(void* Handle) : file_(Handle) {
  const int64_t start = file_.Tell();
  const int64_t fileSize = file_.Size();
  uint8_t h[HeaderSize];
  if (fileSize - start < (int64_t)HeaderSize) throw TTAError("Not a TTA1 file");
  file_.ReadExact(h, HeaderSize);
  if (std::memcmp(h, "TTA1", 4) != 0) throw TTAError("Not a TTA1 file");
  if (Crc32(h, 18) != Get32(h + 18)) throw TTAError("The header is damaged");
  format_ = Get16(h + 4);
  channels_ = Get16(h + 6);
  bits_ = Get16(h + 8);
  rate_ = Get32(h + 10);
  length_ = Get32(h + 14);
  if (format_ == 2) throw TTAError("Encrypted TTA files are not supported");
  if (format_ == FormatPCM) {
    if (bits_ != 8 && bits_ != 16 && bits_ != 24) throw TTAError("Unsupported bits per sample");
  } else if (format_ == FormatFloat) {
    if (bits_ != 32) throw TTAError("Unsupported bits per sample");
  } else {
    throw TTAError("Unsupported audio format");
  }
  if (channels_ < 1 || channels_ > MaxChannels) throw TTAError("Unsupported channel count");
  if (rate_ < 1 || rate_ > MaxRate) throw TTAError("Unsupported sample rate");
  bytes_ = bits_ / 8;
  frameLen_ = FrameLength(rate_);
  if (frameLen_ == 0) throw TTAError("Unsupported sample rate");
  const uint64_t frames = length_ / frameLen_ + (length_ % frameLen_ ? 1 : 0);
  const uint64_t tableBytes = frames * 4 + 4;
  if ((uint64_t)(fileSize - start - HeaderSize) < tableBytes) throw TTAError("The seek table is cut short");
  std::vector<uint8_t> table((size_t)tableBytes);
  file_.ReadExact(table.data(), (uint32_t)tableBytes);
  if (Crc32(table.data(), (size_t)frames * 4) != Get32(table.data() + frames * 4))
    throw TTAError("The seek table is damaged");
  offsets_.resize((size_t)frames + 1);
  int64_t pos = start + HeaderSize + (int64_t)tableBytes;
  for (size_t i = 0; i < frames; ++i) {
    offsets_[i] = pos;
    uint32_t size = Get32(table.data() + i * 4);
    if (size < 4 || size > MaxFrameBytes) throw TTAError("The seek table is damaged");
    pos += size;
  }
  offsets_[(size_t)frames] = pos;
  state_.resize((size_t)channels_);
  out_.resize((size_t)frameLen_ * channels_ * (format_ == FormatFloat ? 2 : 1));
}

int Decoder::NextBlock(void** Buffer) {
  *Buffer = out_.data();
  if (next_ + 1 >= offsets_.size()) return 0;
  const uint32_t bytes = (uint32_t)(offsets_[next_ + 1] - offsets_[next_]);
  const uint32_t count = next_ + 2 == offsets_.size() ? length_ - next_ * frameLen_ : frameLen_;
  raw_.resize(bytes + ReadPadding);
  std::memset(raw_.data() + bytes, 0, ReadPadding);
  file_.SeekTo(offsets_[next_]);
  file_.ReadExact(raw_.data(), bytes);
  if (Crc32(raw_.data(), bytes - 4) != Get32(raw_.data() + bytes - 4)) throw TTAError("The frame data is damaged");
  if (format_ == FormatFloat)
    DecodeFloat(raw_.data(), bytes - 4, count);
  else
    DecodeInteger(raw_.data(), bytes - 4, count);
  ++next_;
  return (int)count;
}

int64_t Decoder::Seek(int64_t SampleFrame) {
  if (SampleFrame < 0 || SampleFrame > (int64_t)length_) return -1;
  uint32_t f = (uint32_t)(SampleFrame / frameLen_);
  next_ = f;
  return (int64_t)f * frameLen_;
}

void Decoder::DecodeFloat(const uint8_t* Data, uint32_t Bytes, uint32_t Count) {
  const size_t samples = (size_t)Count * channels_;
  if (Bytes != samples * 4) throw TTAError("The frame data is damaged");
  for (size_t i = 0; i < samples; ++i) {
    out_[2 * i] = (int32_t)Get32(Data + 4 * i);
    out_[2 * i + 1] = 0;
  }
}

void Decoder::DecodeInteger(const uint8_t* Data, uint32_t Bytes, uint32_t Count) {
  for (auto& s : state_) s.Reset(bytes_);
  BitReader br(Data, Bytes);
  const int C = channels_;
  int32_t* row = out_.data();
  for (uint32_t i = 0; i < Count; ++i, row += C) {
    for (int c = 0; c < C; ++c) {
      ChannelState& s = state_[c];
      uint32_t unary = br.Unary();
      uint32_t k;
      bool second = unary != 0;
      if (second) {
        k = s.k1;
        --unary;
      } else {
        k = s.k0;
      }
      uint32_t value;
      if (k) {
        if (k > 31 || (unary >> (32 - k)) != 0) throw TTAError("The frame data is damaged");
        value = (unary << k) + br.Bits(k);
      } else {
        value = unary;
      }
      if (second) {
        AdaptRice(s.k1, s.sum1, value);
        value += Shift1(s.k0);
      }
      AdaptRice(s.k0, s.sum0, value);
      int32_t v = (int32_t)(1u + ((value >> 1) ^ ((value & 1) - 1u)));
      const int32_t p = FilterPredict(s);
      s.error = v;
      v = (int32_t)((uint32_t)v + (uint32_t)p);
      FilterUpdate(s, v);
      v = (int32_t)((uint32_t)v + (uint32_t)FixedPrediction(s.predictor, bytes_));
      s.predictor = v;
      row[c] = v;
    }
    if (C > 1) {
      int32_t* last = row + C - 1;
      *last = (int32_t)((uint32_t)*last + (uint32_t)(last[-1] / 2));
      for (int32_t* r = last - 1; r >= row; --r) *r = (int32_t)((uint32_t)r[1] - (uint32_t)*r);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// Encoder

Encoder::Encoder(void* Handle, bool Append, int Format, int Channels, int Bits, int Rate, uint32_t DataLength)
    : file_(Handle), format_(Format), channels_(Channels), bits_(Bits), bytes_(Bits / 8), rate_((uint32_t)Rate) {
  if (Format == FormatPCM) {
    if (Bits != 8 && Bits != 16 && Bits != 24) throw TTAError("Unsupported bits per sample");
  } else if (Format == FormatFloat) {
    if (Bits != 32) throw TTAError("Unsupported bits per sample");
  } else {
    throw TTAError("Unsupported audio format");
  }
  if (Channels < 1 || Channels > MaxChannels) throw TTAError("Unsupported channel count");
  if (Rate < 1 || (uint32_t)Rate > MaxRate || FrameLength((uint32_t)Rate) == 0)
    throw TTAError("Unsupported sample rate");
  frameLen_ = FrameLength(rate_);
  if (Append) file_.SeekTo(file_.Size());
  start_ = file_.Tell();
  reserved_ = DataLength / frameLen_ + (DataLength % frameLen_ ? 1 : 0);
  if (reserved_ > MaxReserved) reserved_ = 0;
  std::vector<uint8_t> blank(HeaderSize + (size_t)reserved_ * 4 + 4, 0);
  file_.WriteAll(blank.data(), (uint32_t)blank.size());
  dataStart_ = start_ + (int64_t)blank.size();
  pending_.resize((size_t)frameLen_ * Channels);
  state_.resize((size_t)Channels);
}

void Encoder::Compress(const void* Buffer, int Frames) {
  if (failed_ || finished_) throw TTAError("The encoder has failed");
  if (Frames < 0 || (Frames > 0 && !Buffer)) throw TTAError("Invalid block");
  const auto* src = static_cast<const uint8_t*>(Buffer);
  const size_t slot = format_ == FormatFloat ? 8 : 4;
  try {
    while (Frames > 0) {
      uint32_t n = std::min<uint32_t>((uint32_t)Frames, frameLen_ - pendingFrames_);
      int32_t* dst = pending_.data() + (size_t)pendingFrames_ * channels_;
      const size_t samples = (size_t)n * channels_;
      if (slot == 4) {
        std::memcpy(dst, src, samples * 4);
      } else {
        for (size_t i = 0; i < samples; ++i) std::memcpy(dst + i, src + i * 8, 4);
      }
      src += samples * slot;
      pendingFrames_ += n;
      Frames -= (int)n;
      if (pendingFrames_ == frameLen_) EncodeFrame();
    }
  } catch (...) {
    failed_ = true;
    throw;
  }
}

void Encoder::EncodeFrame() {
  const uint32_t count = pendingFrames_;
  if (count == 0) return;
  if (total_ + count > 0xFFFFFFFFull) throw TTAError("The file is too long for TTA");
  bits_out_.clear();
  const int C = channels_;
  if (format_ == FormatFloat) {
    bits_out_.resize((size_t)count * C * 4);
    for (size_t i = 0; i < (size_t)count * C; ++i) Put32(bits_out_.data() + 4 * i, (uint32_t)pending_[i]);
  } else {
    for (auto& s : state_) s.Reset(bytes_);
    BitWriter bw(bits_out_);
    const int32_t* row = pending_.data();
    int32_t res = 0;
    for (uint32_t i = 0; i < count; ++i, row += C) {
      for (int c = 0; c < C; ++c) {
        ChannelState& s = state_[c];
        int32_t value = row[c];
        if (C > 1) {
          if (c < C - 1)
            value = res = (int32_t)((uint32_t)row[c + 1] - (uint32_t)row[c]);
          else
            value = (int32_t)((uint32_t)value - (uint32_t)(res / 2));
        }
        const int32_t orig = value;
        value = (int32_t)((uint32_t)value - (uint32_t)FixedPrediction(s.predictor, bytes_));
        s.predictor = orig;
        const int32_t p = FilterPredict(s);
        FilterUpdate(s, value);
        value = (int32_t)((uint32_t)value - (uint32_t)p);
        s.error = value;
        uint32_t out = value > 0 ? ((uint32_t)value << 1) - 1 : (0u - (uint32_t)value) << 1;
        uint32_t k = s.k0;
        AdaptRice(s.k0, s.sum0, out);
        if (out >= Shift1(k)) {
          out -= Shift1(k);
          k = s.k1;
          AdaptRice(s.k1, s.sum1, out);
          bw.Ones(1 + (out >> k));
        }
        bw.StopAndBits(out, k);
      }
    }
    bw.Flush();
  }
  uint8_t crc[4];
  Put32(crc, Crc32(bits_out_.data(), bits_out_.size()));
  bits_out_.insert(bits_out_.end(), crc, crc + 4);
  if (bits_out_.size() > MaxFrameBytes) throw TTAError("A frame does not compress");
  file_.WriteAll(bits_out_.data(), (uint32_t)bits_out_.size());
  sizes_.push_back((uint32_t)bits_out_.size());
  total_ += count;
  pendingFrames_ = 0;
}

void Encoder::WriteHeaderAndTable(uint32_t Length, const std::vector<uint32_t>& Sizes) {
  std::vector<uint8_t> b(HeaderSize + Sizes.size() * 4 + 4);
  std::memcpy(b.data(), "TTA1", 4);
  Put16(b.data() + 4, (uint32_t)format_);
  Put16(b.data() + 6, (uint32_t)channels_);
  Put16(b.data() + 8, (uint32_t)bits_);
  Put32(b.data() + 10, rate_);
  Put32(b.data() + 14, Length);
  Put32(b.data() + 18, Crc32(b.data(), 18));
  uint8_t* t = b.data() + HeaderSize;
  for (size_t i = 0; i < Sizes.size(); ++i) Put32(t + 4 * i, Sizes[i]);
  Put32(t + 4 * Sizes.size(), Crc32(t, Sizes.size() * 4));
  file_.SeekTo(start_);
  file_.WriteAll(b.data(), (uint32_t)b.size());
}

void Encoder::Finish() {
  if (finished_) return;
  finished_ = true;
  if (failed_) throw TTAError("The encoder has failed");
  try {
    EncodeFrame();
    int64_t dataBytes = 0;
    for (uint32_t s : sizes_) dataBytes += s;
    const int64_t newStart = start_ + HeaderSize + (int64_t)sizes_.size() * 4 + 4;
    if (newStart != dataStart_ && dataBytes > 0) {
      // The seek table has another size than was reserved: move the frames.
      std::vector<uint8_t> buf((size_t)std::min<int64_t>(dataBytes, 1 << 20));
      const bool forward = newStart > dataStart_;
      int64_t done = 0;
      while (done < dataBytes) {
        const uint32_t n = (uint32_t)std::min<int64_t>((int64_t)buf.size(), dataBytes - done);
        const int64_t off = forward ? dataBytes - done - n : done;
        file_.SeekTo(dataStart_ + off);
        file_.ReadExact(buf.data(), n);
        file_.SeekTo(newStart + off);
        file_.WriteAll(buf.data(), n);
        done += n;
      }
    }
    dataStart_ = newStart;
    WriteHeaderAndTable((uint32_t)total_, sizes_);
    file_.SeekTo(dataStart_ + dataBytes);
    file_.Truncate();
  } catch (...) {
    failed_ = true;
    throw;
  }
}

}  // namespace tta
