// Damaged WAVE files: every kind the reader handles, cut at every point (or a dense sample of
// them) and scrambled by seeded random changes, read to the end through the reader alone, with
// a window, with Loop, and through a converter into the writer. Whatever the damage, the reader
// must not crash or hang, and must deliver whole frames, no more than the file can hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

#include "audio/engine/AuConverters.h"
#include "audio/formats/wave/AuWave.h"
#include "audio/formats/wave/WaveTestUtil.h"

using namespace wavetest;

namespace {

struct Kind {
  const char* name;
  std::string file;
  int expansion;  // at most this many bytes delivered per byte of the file
  bool acm = false;
};

std::string Bytes(size_t n, uint32_t seed) {
  std::mt19937 r(seed);
  std::string s(n, '\0');
  for (auto& c : s) c = (char)r();
  return s;
}

std::string Guid(uint8_t first) {
  return std::string{(char)first, 0, 0, 0, 0, 0, 0x10, 0, (char)0x80, 0, 0, (char)0xAA, 0, 0x38, (char)0x9B, 0x71};
}

std::string Plain(uint16_t tag, uint16_t ch, uint16_t bits, size_t frames) {
  const uint16_t align = (uint16_t)(ch * bits / 8);
  return Riff(Chunk("fmt ", FmtBody(tag, ch, 8000, align, bits)) + Chunk("LIST", "INFOISFT" + LE32(3) + "ab\0" + "\0") +
              Chunk("data", Bytes(frames * align, bits * 7 + ch)));
}

std::string Extensible(uint16_t ch, uint16_t bits, uint8_t sub, size_t frames) {
  const uint16_t align = (uint16_t)(ch * bits / 8);
  return Riff(Chunk("fmt ", FmtBody(0xFFFE, ch, 8000, align, bits) + LE16(22) + LE16(bits) + LE32(3) + Guid(sub)) +
              Chunk("data", Bytes(frames * align, sub)));
}

struct KindCase {
  const char* name;
  int expansion;      // at most this many bytes delivered per byte of the file
  const char* made;   // ffmpeg's arguments, or "" for a file built here
  double seconds;
};

// The small file of a kind; the compressed ones are made by ffmpeg.
Kind Make(const KindCase& c, const TempDir& dir) {
  const std::string n = c.name;
  Kind k{c.name, "", c.expansion, n == "Mp3"};
  if (n == "Pcm8") k.file = Plain(1, 1, 8, 600);
  if (n == "Pcm16") k.file = Plain(1, 2, 16, 250);
  if (n == "Pcm24") k.file = Plain(1, 2, 24, 170);
  if (n == "Float32") k.file = Plain(3, 2, 32, 130);
  if (n == "Float64") k.file = Plain(3, 1, 64, 130);
  if (n == "ExtPcm24") k.file = Extensible(3, 24, 1, 100);
  if (n == "ExtFloat32") k.file = Extensible(2, 32, 3, 120);
  if (*c.made) {
    const std::wstring name = dir.File(L"made.wav");
    Peer("ffmpeg -v error -f lavfi -i sine=f=440:d=" + std::to_string(c.seconds) + " " + c.made + " -y " + Q(name));
    k.file = ReadBytes(name);
  }
  return k;
}

// Where the chunks of a well-formed file lie.
struct ChunkPos {
  std::string id;
  size_t at;  // of the identifier
  size_t size;
};

std::vector<ChunkPos> Chunks(const std::string& f) {
  std::vector<ChunkPos> c;
  size_t p = 12;
  while (p + 8 <= f.size()) {
    uint32_t size = Get32(f, p + 4);
    c.push_back({f.substr(p, 4), p, size});
    p += 8 + size + (size & 1);
  }
  return c;
}

void Put32(std::string& f, size_t at, uint32_t v) {
  if (at + 4 <= f.size()) f.replace(at, 4, LE32(v));
}
void Put16(std::string& f, size_t at, uint32_t v) {
  if (at + 2 <= f.size()) f.replace(at, 2, LE16(v));
}

// One to three seeded changes of a valid file; Log tells what was done.
std::string Mutate(const std::string& good, std::mt19937& r, std::string& log) {
  std::string f = good;
  std::ostringstream what;
  const int changes = 1 + (int)(r() % 3);
  for (int k = 0; k < changes; ++k) {
    std::vector<ChunkPos> cs = Chunks(f);
    if (cs.empty()) break;
    const ChunkPos& c = cs[r() % cs.size()];
    uint32_t edge[] = {0, 1, 0xFFFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0xFFFFu, 0x10000u,
                       (uint32_t)(f.size() - c.at - 8 + 1), (uint32_t)c.size + 1, (uint32_t)c.size - 1};
    switch (r() % 8) {
      case 0: {  // bytes flipped, mostly in the header
        int n = 1 + (int)(r() % 4);
        for (int i = 0; i < n; ++i) {
          size_t span = r() % 2 ? std::min<size_t>(f.size(), 160) : f.size();
          size_t at = r() % span;
          f[at] = (char)(r() % 3 ? f[at] ^ (1 << (r() % 8)) : r());
          what << "byte " << at << "=" << (int)(uint8_t)f[at] << "; ";
        }
        break;
      }
      case 1: {  // a random value in a field of "fmt " or "fact"
        auto fmt = std::find_if(cs.begin(), cs.end(), [](const ChunkPos& x) { return x.id == "fmt " || x.id == "fact"; });
        if (fmt == cs.end()) break;
        const ChunkPos& t = r() % 4 ? *fmt : cs[r() % cs.size()];
        if (t.size < 2) break;
        size_t off = 2 * (r() % (t.size / 2));
        uint32_t v = r() % 3 ? edge[r() % 7] : (uint32_t)r();
        if (r() % 2) {
          Put32(f, t.at + 8 + off, v);
        } else {
          Put16(f, t.at + 8 + off, v);
        }
        what << t.id << "+" << off << "=" << v << "; ";
        break;
      }
      case 2:
      case 3: {  // a chunk size: 0, all ones, just past the end, off by one, random
        uint32_t v = r() % 5 ? edge[r() % 10] : (uint32_t)r();
        Put32(f, c.at + 4, v);
        what << c.id << ".size=" << v << "; ";
        break;
      }
      case 4: {  // a chunk twice, the copy maybe damaged
        std::string copy = f.substr(c.at, std::min(f.size() - c.at, 8 + c.size + (c.size & 1)));
        if (copy.size() > 8 && r() % 2) copy[8 + r() % (copy.size() - 8)] = (char)r();
        size_t to = r() % 2 ? c.at : c.at + copy.size();
        f.insert(std::min(to, f.size()), copy);
        what << "dup " << c.id << "; ";
        break;
      }
      case 5: {  // a chunk missing
        f.erase(c.at, std::min(f.size() - c.at, 8 + c.size + (c.size & 1)));
        what << "drop " << c.id << "; ";
        break;
      }
      case 6: {  // a chunk moved in front of another one
        std::string body = f.substr(c.at, std::min(f.size() - c.at, 8 + c.size + (c.size & 1)));
        f.erase(c.at, body.size());
        std::vector<ChunkPos> rest = Chunks(f);
        size_t to = rest.empty() ? 12 : rest[r() % rest.size()].at;
        f.insert(std::min(to, f.size()), body);
        what << "move " << c.id << "; ";
        break;
      }
      case 7: {  // the RIFF size or the "data" body scrambled (ADPCM block headers included)
        if (r() % 2) {
          Put32(f, 4, (uint32_t)r());
          what << "riff size; ";
        } else {
          auto d = std::find_if(cs.begin(), cs.end(), [](const ChunkPos& x) { return x.id == "data"; });
          if (d == cs.end() || d->at + 8 >= f.size()) break;
          for (int i = 0; i < 16; ++i) {
            size_t at = d->at + 8 + r() % std::min<size_t>(f.size() - d->at - 8, 600);
            f[at] = (char)r();
          }
          what << "data bytes; ";
        }
        break;
      }
    }
  }
  log = what.str();
  return f;
}

// Reads one damaged file in every way; records the first broken promise in Fail.
class Reader {
 public:
  Reader(const Kind& k, uint32_t seed) : kind_(k), rng_(seed) {}

  void Check(const std::string& file, const std::string& what) {
    fail_.clear();
    // A crash ends the process before the failure is reported: WAVEFUZZ_TRACE names each file.
    if (getenv("WAVEFUZZ_TRACE")) fprintf(stderr, "%s: %s\n", kind_.name, what.c_str());
    TMemoryStream ms;
    if (!file.empty()) ms.WriteBuffer(file.data(), (int32_t)file.size());
    ms.SetPosition(0);
    // Compressed: one short last block may decode whole (at most 4 bytes per byte of its align).
    const int64_t bound = (int64_t)file.size() * kind_.expansion + (kind_.expansion > 1 ? 4 * 65536 : 0);
    TWaveIn in(nullptr);
    in.SetStream(&ms);
    const bool valid = in.Valid();
    int frame = 1;
    if (valid) {
      const int bits = in.BitsPerSample(), ch = in.Channels();
      if ((bits != 8 && bits != 16 && bits != 24 && bits != 32) || ch < 1 || in.SampleRate() <= 0)
        return Fail(what, "a valid file with a format no consumer can take");
      frame = bits / 8 * ch;
    }
    // The whole file.
    int64_t total = Pull(in, what, valid, frame, bound, -1);
    const int64_t size = in.Size();
    if (!fail_.empty()) return;
    // A window inside it. (The MPEG file is decoded wholly on every open: it is read in the
    // other ways one time in four.)
    const bool all = !kind_.acm || round_++ % 4 == 0;
    const int64_t frames = total / frame;
    if (valid && frames > 0 && all) {
      int64_t s = (int64_t)(rng_() % (uint32_t)frames), e = s + (int64_t)(rng_() % (uint32_t)(frames + 50)) - 10;
      if (e == -1) e = -2;  // -1 is "to the end"
      in.SetStartSample(s);
      in.SetEndSample(e);
      const int64_t want = e < s ? 0 : e >= frames ? frames - s : e - s + 1;
      int64_t got = Pull(in, what, valid, frame, std::max<int64_t>(e - s + 2, 1) * frame, -1);
      if (!fail_.empty()) return;
      if (kind_.expansion == 1 && got / frame != want)
        return Fail(what, "a window of " + std::to_string(want) + " frames delivered " + std::to_string(got / frame));
    }
    // Loop: every pull delivers a bounded count, the stream restarts or ends cleanly.
    if (!all) return;
    in.SetLoop(true);
    Pull(in, what, valid, frame, bound * 4, 20);
    in.SetLoop(false);
    if (!fail_.empty()) return;
    // Through a converter into the writer.
    if (chain_++ % 10 == 0) {  // a writer run costs a thread: every tenth file
      TSampleMorpher morph(nullptr);
      morph.SetInput(&in);
      morph.SetOutBitsPerSample(16);
      morph.SetOutChannels(2);
      TWaveOut out(nullptr);
      TMemoryStream dest;
      out.SetInput(&morph);
      out.SetStream(&dest);
      try {
        out.BlockingRun();
      } catch (const Exception& e) {
        return Fail(what, "the chain raised " + std::string(e.Message().begin(), e.Message().end()));
      }
      // The writer makes the file as long as the input's Size promised, even when damaged data
      // ends the stream before it.
      if (dest.Size() > 68 + 4 * std::max(total, size)) return Fail(what, "the chain wrote " + std::to_string(dest.Size()));
    }
  }

  const std::string& Failure() const { return fail_; }

 private:
  // Init, pulls until the end (at most MaxPulls when not -1), Flush; the bytes delivered.
  int64_t Pull(TWaveIn& in, const std::string& what, bool valid, int frame, int64_t bound, int maxPulls) {
    static const uint32_t asks[] = {16384, 4096, 7777, 20000, 65536};
    in.Init();
    int64_t total = 0;
    const int64_t size = in.Size();
    if (valid && size > bound) Fail(what, "Size " + std::to_string(size) + " beyond " + std::to_string(bound));
    int pulls = 0;
    const int64_t most = maxPulls > 0 ? maxPulls : bound / std::max(frame, 1) + 4;
    while (fail_.empty()) {
      uint32_t ask = asks[rng_() % 5];
      void* p = nullptr;
      uint32_t n = ask;
      in.GetData(p, n);
      if (n == 0) break;
      if (!valid) {
        Fail(what, "an invalid file delivered data");
      } else if (!p || n > ask) {
        Fail(what, "a delivery larger than asked");
      } else if ((int)ask >= frame && n % frame != 0) {
        Fail(what, "a delivery of " + std::to_string(n) + " bytes, frames of " + std::to_string(frame));
      }
      total += n;
      if (maxPulls < 0 && total > bound) Fail(what, "delivered " + std::to_string(total) + " beyond " + std::to_string(bound));
      if (++pulls >= most) {
        if (maxPulls < 0) Fail(what, "no end after " + std::to_string(pulls) + " pulls");
        break;
      }
    }
    in.Flush();
    return total;
  }

  void Fail(const std::string& what, const std::string& why) {
    if (fail_.empty()) fail_ = why + " [" + what + "]";
  }

  const Kind& kind_;
  std::mt19937 rng_;
  std::string fail_;
  int chain_ = 0;
  int round_ = 0;
};

class WaveFuzz : public ::testing::TestWithParam<KindCase> {};

TEST_P(WaveFuzz, CutAndDamagedFilesAreReadSafely) {
  TempDir dir;
  const Kind k = Make(GetParam(), dir);
  ASSERT_GT(k.file.size(), 500u);
  {
    // The undamaged file is read whole.
    TMemoryStream ms;
    ms.WriteBuffer(k.file.data(), (int32_t)k.file.size());
    ms.SetPosition(0);
    TWaveIn in(nullptr);
    in.SetStream(&ms);
    ASSERT_TRUE(in.Valid());
    EXPECT_GT(ReadAll(&in).size(), k.file.size() / 4);
  }
  Reader reader(k, 977);
  int failures = 0;
  auto check = [&](const std::string& file, const std::string& what) {
    reader.Check(file, what);
    if (!reader.Failure().empty() && ++failures <= 5) ADD_FAILURE() << k.name << ": " << reader.Failure();
  };
  // Every cut in the headers, a sample of them in the data (the MPEG file decodes wholly on
  // every open, so it gets a sparser one and fewer changes).
  const size_t step = k.acm ? 97 : 5;
  for (size_t len = 0; len < k.file.size(); len += len < (k.acm ? 112u : 160u) ? 1 : step) check(k.file.substr(0, len), "cut at " + std::to_string(len));
  std::mt19937 rng(12345 + (uint32_t)k.file.size());
  // WAVEFUZZ_ROUNDS=n runs n times as many changes, with other seeds, for a deeper search.
  const char* more = getenv("WAVEFUZZ_ROUNDS");
  const int rounds = (k.acm ? 60 : 300) * std::max(1, more ? atoi(more) : 1);
  if (more) {
    const uint32_t seed = (uint32_t)time(nullptr);
    rng.seed(seed);
    printf("%s: seed %u\n", k.name, seed);
  }
  for (int i = 0; i < rounds; ++i) {
    std::string log;
    std::string f = Mutate(k.file, rng, log);
    check(f, "change " + std::to_string(i) + ": " + log);
  }
  EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(
    WaveIn, WaveFuzz,
    ::testing::Values(KindCase{"Pcm8", 1, "", 0}, KindCase{"Pcm16", 1, "", 0}, KindCase{"Pcm24", 1, "", 0},
                      KindCase{"Float32", 1, "", 0}, KindCase{"Float64", 1, "", 0}, KindCase{"ExtPcm24", 1, "", 0},
                      KindCase{"ExtFloat32", 1, "", 0},
                      KindCase{"ImaMono", 5, "-ar 8000 -ac 1 -c:a adpcm_ima_wav -block_size 256", 0.12},
                      KindCase{"ImaStereo", 5, "-ar 8000 -ac 2 -c:a adpcm_ima_wav -block_size 256", 0.12},
                      KindCase{"MsMono", 5, "-ar 8000 -ac 1 -c:a adpcm_ms -block_size 256", 0.12},
                      KindCase{"MsStereo", 5, "-ar 8000 -ac 2 -c:a adpcm_ms -block_size 256", 0.12},
                      KindCase{"Mp3", 256, "-ar 22050 -ac 1 -c:a libmp3lame -b:a 32k -f wav", 0.3}),
    [](const ::testing::TestParamInfo<KindCase>& i) { return std::string(i.param.name); });

}  // namespace
