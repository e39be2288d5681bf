// make_table: writes a synthetic data file for Korvelline.
//
//   make_table <records> <dims> <outfile> [seed] [--labels]
//   make_table --flights <records> <outfile.csv> [seed]
//
// <outfile> may be "-" for standard output. The same arguments always give
// the same bytes, so benchmarks and tests can regenerate their inputs.
//
// Records come from 3-5 clusters (the count depends on the seed). Each
// cluster has its own centre and spread per dimension, and two shared latent
// factors make the dimensions correlate, so the plot shows bundles that
// cross or run parallel between axes instead of uniform noise. Every fourth
// dimension is rounded to whole numbers to exercise discrete axes.
//
// Output format: "R D S L", then the label heading and D names, then R
// records (a label first when L is non-zero), all whitespace separated.
//
// --flights writes a CSV shaped like a public table of flights instead: a
// departure date-time to the minute, a delay in minutes, a distance in miles,
// and the origin and destination among 230 airport codes, the busy airports
// far more frequent than the rest (about 33 bytes a row).

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>
#include <vector>

#include "flights.h"

namespace {

constexpr int kMaxDims = 999;

struct SplitMix64 {
  std::uint64_t state;
  std::uint64_t next() {
    std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    return z ^ (z >> 31);
  }
  // Uniform in [0,1) with 53 random bits.
  double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
  double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
  // Box-Muller; the spare value is kept so each call costs one log.
  double gaussian() {
    if (has_spare) {
      has_spare = false;
      return spare;
    }
    double u1 = uniform();
    while (u1 <= 0.0) u1 = uniform();
    const double u2 = uniform();
    const double r = std::sqrt(-2.0 * std::log(u1));
    const double a = 6.283185307179586 * u2;
    spare = r * std::sin(a);
    has_spare = true;
    return r * std::cos(a);
  }
  double spare = 0.0;
  bool has_spare = false;
};

struct Dimension {
  double offset, scale;       // maps the unit-free model value to data units
  double load1, load2, own;   // weights of the two shared factors and own noise
  bool integral;
};

struct Cluster {
  double weight;              // cumulative, in (0,1]
  std::vector<double> centre; // per dimension
  std::vector<double> spread; // per dimension
};

// Buffered writer: fwrite per value would dominate the run time.
class Output {
 public:
  explicit Output(std::FILE* f) : file_(f), buf_(1 << 20) {}
  ~Output() { flush(); }
  void reserve(std::size_t n) {
    if (used_ + n > buf_.size()) flush();
  }
  void put(char c) { buf_[used_++] = c; }
  void put(const char* s, std::size_t n) {
    std::memcpy(buf_.data() + used_, s, n);
    used_ += n;
  }
  void put(const std::string& s) {
    reserve(s.size() + 1);
    put(s.data(), s.size());
  }
  void number(double v) {
    auto res = std::to_chars(buf_.data() + used_, buf_.data() + buf_.size(), v,
                             std::chars_format::general, 6);
    used_ = static_cast<std::size_t>(res.ptr - buf_.data());
  }
  void integer(std::uint64_t v) {
    auto res = std::to_chars(buf_.data() + used_, buf_.data() + buf_.size(), v);
    used_ = static_cast<std::size_t>(res.ptr - buf_.data());
  }
  void flush() {
    if (used_ && std::fwrite(buf_.data(), 1, used_, file_) != used_) failed_ = true;
    used_ = 0;
  }
  bool failed() const { return failed_; }

 private:
  std::FILE* file_;
  std::vector<char> buf_;
  std::size_t used_ = 0;
  bool failed_ = false;
};

bool parse_count(const char* s, long long max, long long& out) {
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(s, &end, 10);
  if (errno || end == s || *end != '\0' || v < 0 || v > max) return false;
  out = v;
  return true;
}

int usage(const char* argv0) {
  std::fprintf(stderr,
               "usage: %s <records> <dims> <outfile> [seed] [--labels]\n"
               "       %s --flights <records> <outfile.csv> [seed]\n"
               "  dims 1..%d; outfile '-' writes to standard output\n",
               argv0, argv0, kMaxDims);
  return 2;
}

int flightsMain(int argc, char** argv) {
  long long records = 0, seed = 1;
  if ((argc != 4 && argc != 5) || !parse_count(argv[2], 1LL << 40, records) ||
      (argc == 5 && !parse_count(argv[4], 1LL << 62, seed)))
    return usage(argv[0]);
  std::FILE* f = std::strcmp(argv[3], "-") == 0 ? stdout : std::fopen(argv[3], "wb");
  if (!f) {
    std::fprintf(stderr, "make_table: cannot open %s: %s\n", argv[3], std::strerror(errno));
    return 1;
  }
  const int status = bench::writeFlights(f, records, static_cast<std::uint64_t>(seed)) ? 0 : 1;
  if ((f != stdout ? std::fclose(f) : std::fflush(f)) != 0 || status != 0) {
    std::fprintf(stderr, "make_table: write to %s failed\n", argv[3]);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::strcmp(argv[1], "--flights") == 0) return flightsMain(argc, argv);
  std::vector<const char*> pos;
  bool labels = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--labels") == 0) {
      labels = true;
    } else {
      pos.push_back(argv[i]);
    }
  }
  if (pos.size() < 3 || pos.size() > 4) return usage(argv[0]);

  long long records = 0, dims = 0, seed_arg = 1;
  if (!parse_count(pos[0], 1LL << 40, records) || !parse_count(pos[1], kMaxDims, dims) || dims < 1)
    return usage(argv[0]);
  if (pos.size() == 4 && !parse_count(pos[3], (1LL << 62), seed_arg)) return usage(argv[0]);
  const auto seed = static_cast<std::uint64_t>(seed_arg);

  // The model gets its own stream so the layout of the data does not depend
  // on how many records are drawn.
  SplitMix64 model{seed * 0x2545f4914f6cdd1dULL + 17};
  SplitMix64 rng{seed ^ 0xd1b54a32d192ed03ULL};

  const int D = static_cast<int>(dims);
  std::vector<Dimension> dim(D);
  static const double kScales[] = {0.1, 1.0, 1.0, 10.0, 100.0};
  for (int j = 0; j < D; ++j) {
    Dimension& d = dim[j];
    d.integral = (j % 4 == 3);
    d.scale = d.integral ? 2.0 : kScales[model.next() % 5];
    d.offset = d.integral ? 10.0 : model.uniform(-2.0, 5.0) * d.scale;
    // Keep load1^2 + load2^2 <= 0.85 so the own-noise weight stays real.
    const double angle = model.uniform(0.0, 6.283185307179586);
    const double r = std::sqrt(model.uniform(0.05, 0.85));
    d.load1 = r * std::cos(angle);
    d.load2 = r * std::sin(angle);
    d.own = std::sqrt(1.0 - r * r);
  }

  const int K = 3 + static_cast<int>(seed % 3);
  std::vector<Cluster> clusters(K);
  double total = 0.0;
  for (Cluster& c : clusters) {
    c.weight = model.uniform(0.5, 1.5);
    total += c.weight;
    c.centre.resize(D);
    c.spread.resize(D);
    for (int j = 0; j < D; ++j) {
      c.centre[j] = model.uniform(-3.0, 3.0);
      c.spread[j] = model.uniform(0.25, 0.9);
    }
  }
  double acc = 0.0;
  for (Cluster& c : clusters) {
    acc += c.weight / total;
    c.weight = acc;
  }
  clusters.back().weight = 1.0;

  std::FILE* f = std::strcmp(pos[2], "-") == 0 ? stdout : std::fopen(pos[2], "wb");
  if (!f) {
    std::fprintf(stderr, "make_table: cannot open %s: %s\n", pos[2], std::strerror(errno));
    return 1;
  }

  {
    Output out(f);
    out.put(std::to_string(records) + " " + std::to_string(D) + " " + std::to_string(D) + " " +
            (labels ? "1" : "0") + "\n");
    std::string names = "id";
    for (int j = 0; j < D; ++j) names += " x" + std::to_string(j + 1);
    out.put(names + "\n");

    std::vector<double> row(D);
    const std::size_t worst_line = static_cast<std::size_t>(D) * 16 + 32;
    for (long long i = 0; i < records; ++i) {
      const double pick = rng.uniform();
      const Cluster* c = &clusters[0];
      for (const Cluster& cand : clusters) {
        if (pick < cand.weight) {
          c = &cand;
          break;
        }
      }
      const double z1 = rng.gaussian();
      const double z2 = rng.gaussian();
      for (int j = 0; j < D; ++j) {
        const Dimension& d = dim[j];
        const double unit = c->centre[j] + c->spread[j] * (d.load1 * z1 + d.load2 * z2 + d.own * rng.gaussian());
        double v = d.offset + d.scale * unit;
        if (d.integral) v = std::round(v);
        row[j] = v == 0.0 ? 0.0 : v;  // no "-0" in the file
      }

      out.reserve(worst_line);
      if (labels) {
        out.put('r');
        out.integer(static_cast<std::uint64_t>(i + 1));
        out.put(' ');
      }
      for (int j = 0; j < D; ++j) {
        if (j) out.put(' ');
        out.number(row[j]);
      }
      out.put('\n');
    }
    out.flush();
    if (out.failed()) {
      std::fprintf(stderr, "make_table: write to %s failed\n", pos[2]);
      if (f != stdout) std::fclose(f);
      return 1;
    }
  }
  if (f != stdout) {
    if (std::fclose(f) != 0) {
      std::fprintf(stderr, "make_table: closing %s failed\n", pos[2]);
      return 1;
    }
  } else if (std::fflush(stdout) != 0) {
    return 1;
  }
  return 0;
}
