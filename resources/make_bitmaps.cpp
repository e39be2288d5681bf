// make_bitmaps: draws the stroke bitmaps that ship in resources/.
//
//   make_bitmaps [outdir]        (default: current directory)
//
// Writes 1.bmp, 2.bmp, 3.bmp and straw.bmp as 24-bit uncompressed BMPs with
// power-of-two sizes. The viewer treats white as transparent and dark as
// opaque, so every picture is dark marks on white; grey edges give soft alpha.
// The ribbon bitmaps are stretched along a free-hand stroke: x (s) runs
// across the ribbon and y (t) along it.
//
// Everything is computed from closed-form shapes and an integer hash, so the
// output is byte-for-byte reproducible (a ctest checks the committed files).

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Image {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> grey;  // row 0 is the top row
};

// Darkness in [0,1] at a point (s, t) in [0,1]^2 of the picture.
using Shape = std::function<double(double s, double t)>;

// 4x4 supersampling keeps the edges soft enough to read as partial alpha.
Image render(int width, int height, const Shape& shape) {
  Image img;
  img.width = width;
  img.height = height;
  img.grey.resize(static_cast<std::size_t>(width) * height);
  constexpr int kSub = 4;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double dark = 0.0;
      for (int sy = 0; sy < kSub; ++sy) {
        for (int sx = 0; sx < kSub; ++sx) {
          const double s = (x + (sx + 0.5) / kSub) / width;
          const double t = (y + (sy + 0.5) / kSub) / height;
          dark += std::clamp(shape(s, t), 0.0, 1.0);
        }
      }
      dark /= kSub * kSub;
      const long v = std::lround(255.0 * (1.0 - dark));
      img.grey[static_cast<std::size_t>(y) * width + x] = static_cast<std::uint8_t>(std::clamp(v, 0L, 255L));
    }
  }
  return img;
}

void put_u16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xff));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xff));
}

void put_u32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  put_u16(out, v & 0xffff);
  put_u16(out, v >> 16);
}

bool write_bmp(const std::string& path, const Image& img) {
  const std::uint32_t row_bytes = (static_cast<std::uint32_t>(img.width) * 3 + 3) & ~3u;
  const std::uint32_t pixel_bytes = row_bytes * static_cast<std::uint32_t>(img.height);
  const std::uint32_t header_bytes = 14 + 40;

  std::vector<std::uint8_t> out;
  out.reserve(header_bytes + pixel_bytes);
  out.push_back('B');
  out.push_back('M');
  put_u32(out, header_bytes + pixel_bytes);
  put_u32(out, 0);              // reserved
  put_u32(out, header_bytes);   // offset of the pixel array
  put_u32(out, 40);             // BITMAPINFOHEADER
  put_u32(out, static_cast<std::uint32_t>(img.width));
  put_u32(out, static_cast<std::uint32_t>(img.height));  // positive: bottom-up rows
  put_u16(out, 1);              // planes
  put_u16(out, 24);             // bits per pixel
  put_u32(out, 0);              // BI_RGB, uncompressed
  put_u32(out, pixel_bytes);
  put_u32(out, 2835);           // 72 dpi
  put_u32(out, 2835);
  put_u32(out, 0);              // palette size
  put_u32(out, 0);              // important colours

  for (int y = img.height - 1; y >= 0; --y) {
    std::uint32_t written = 0;
    for (int x = 0; x < img.width; ++x) {
      const std::uint8_t g = img.grey[static_cast<std::size_t>(y) * img.width + x];
      out.push_back(g);  // B
      out.push_back(g);  // G
      out.push_back(g);  // R
      written += 3;
    }
    for (; written < row_bytes; ++written) out.push_back(0);
  }

  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
  return std::fclose(f) == 0 && ok;
}

double smoothstep(double e0, double e1, double x) {
  const double u = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
  return u * u * (3.0 - 2.0 * u);
}

// Integer hash to [0,1): the only source of "randomness", fixed forever.
double hash01(std::uint32_t n) {
  n ^= n >> 16;
  n *= 0x7feb352dU;
  n ^= n >> 15;
  n *= 0x846ca68bU;
  n ^= n >> 16;
  return (n & 0xffffff) / double(0x1000000);
}

// Smooth 1-D value noise with lattice spacing 1.
double noise1(double x, std::uint32_t seed) {
  const double fl = std::floor(x);
  const double f = x - fl;
  const auto i = static_cast<std::int64_t>(fl);
  const double a = hash01(static_cast<std::uint32_t>(i) * 2654435761u + seed);
  const double b = hash01(static_cast<std::uint32_t>(i + 1) * 2654435761u + seed);
  const double u = f * f * (3.0 - 2.0 * f);
  return a + (b - a) * u;
}

// 1.bmp: a brush band, solid in the middle columns and fading out towards
// both sides, with bristle streaks along the stroke and tapered ends.
double brush(double s, double t) {
  // Ends narrow a little, as a real brush does when it lands and lifts.
  const double end = std::min(smoothstep(0.0, 0.08, t), smoothstep(0.0, 0.08, 1.0 - t));
  const double half = 0.5 * (0.55 + 0.45 * end);
  const double d = std::abs(s - 0.5) / half;  // 0 in the centre, 1 at the band edge
  double dark = 1.0 - smoothstep(0.35, 1.0, d);
  // Bristles: per-column darkness that drifts slowly along the stroke.
  const double bristle = noise1(s * 40.0 + 3.0 * noise1(t * 3.0, 7u), 11u);
  dark *= 0.8 + 0.2 * bristle;
  // Dry-brush gaps near the edges only, so the core stays solid.
  const double dry = noise1(s * 23.0, 5u) * noise1(t * 9.0 + s * 13.0, 3u);
  dark *= 1.0 - 0.6 * smoothstep(0.55, 0.95, d) * smoothstep(0.25, 0.6, dry);
  return dark;
}

// 2.bmp: a dash, a dot, a dash, ... down the middle of the ribbon.
double dashes(double s, double t) {
  constexpr int kPeriods = 6;      // dash + dot pairs along the stroke
  const double p = t * kPeriods;
  const double local = p - std::floor(p);  // 0..1 within one pair
  const double x = (s - 0.5) * 64.0;       // pixels from the centre line
  const double y = local * (256.0 / kPeriods);
  const double period = 256.0 / kPeriods;  // ~42.7 px
  // Capsule dash from y=2 to y=28, radius 8.
  const double r = 8.0;
  const double yc = std::clamp(y, 2.0 + r, 28.0 - r);
  const double dash_dist = std::hypot(x, y - yc) - r;
  // Round dot centred in the gap before the next dash.
  const double dot_centre = (28.0 + period + 2.0) / 2.0;
  const double dot_dist = std::hypot(x, y - dot_centre) - 5.0;
  const double dist = std::min(dash_dist, dot_dist);
  return 1.0 - smoothstep(-0.7, 0.7, dist);
}

// 3.bmp: diagonal hatching between two thin rails along the ribbon edges.
double hatch(double s, double t) {
  const double x = s * 64.0;
  const double y = t * 256.0;
  const double period = 12.0;
  const double phase = std::fmod(x + y, period);
  const double line_dist = std::abs(phase - period / 2.0) / std::sqrt(2.0);
  double dark = 1.0 - smoothstep(1.0, 2.0, line_dist);
  dark *= smoothstep(4.0, 6.0, x) * smoothstep(4.0, 6.0, 64.0 - x);
  const double rail = std::min(std::abs(x - 4.0), std::abs(x - 60.0));
  dark = std::max(dark, 1.0 - smoothstep(0.8, 1.6, rail));
  return dark;
}

// straw.bmp: a pen nib seen from above, tip pointing down, with the slit and
// breather hole left white so the marker reads as a nib at small sizes.
double nib(double s, double t) {
  const double x = (s - 0.5) * 128.0;  // pixels from the vertical centre line
  const double y = t * 128.0;          // pixels from the top
  constexpr double kTop = 10.0, kShoulder = 44.0, kTip = 122.0, kHalf = 34.0;
  double half;
  if (y < kTop) {
    half = -1.0;
  } else if (y < kShoulder) {
    // Rounded cap that widens into straight shoulders.
    const double u = (y - kTop) / (kShoulder - kTop);
    half = kHalf * (0.55 + 0.45 * std::sqrt(std::max(0.0, 1.0 - (1.0 - u) * (1.0 - u))));
  } else if (y <= kTip) {
    const double u = (kTip - y) / (kTip - kShoulder);  // 1 at shoulder, 0 at tip
    half = kHalf * std::pow(u, 0.85);
  } else {
    half = -1.0;
  }
  const double edge = half - std::abs(x);  // > 0 inside
  double dark = smoothstep(-0.7, 0.7, edge);
  // Breather hole and slit running from it to the tip.
  const double hole = std::hypot(x, y - 62.0) - 6.5;
  const double slit = (y > 62.0 && y < kTip - 2.0) ? std::abs(x) - 1.2 : 1e9;
  const double cut = std::min(hole, slit);
  dark *= smoothstep(-0.7, 0.7, cut);
  // A faint shoulder line gives the shape some depth.
  const double crease = std::abs(y - kShoulder - 2.0);
  if (half > 0.0 && std::abs(x) < half - 3.0) dark *= 0.65 + 0.35 * smoothstep(0.6, 1.6, crease);
  return dark;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 2) {
    std::fprintf(stderr, "usage: %s [outdir]\n", argv[0]);
    return 2;
  }
  std::string dir = argc == 2 ? argv[1] : ".";
  if (!dir.empty() && dir.back() != '/') dir += '/';

  struct Job {
    const char* name;
    int width, height;
    double (*shape)(double, double);
  };
  const Job jobs[] = {
      {"1.bmp", 64, 256, brush},
      {"2.bmp", 64, 256, dashes},
      {"3.bmp", 64, 256, hatch},
      {"straw.bmp", 128, 128, nib},
  };
  for (const Job& job : jobs) {
    const std::string path = dir + job.name;
    if (!write_bmp(path, render(job.width, job.height, job.shape))) {
      std::fprintf(stderr, "make_bitmaps: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
