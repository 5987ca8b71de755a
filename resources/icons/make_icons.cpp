// Draws Quorvane's icon from the figure itself: one fixed seed of the model, its first
// lines on black, and writes the files in resources/icons/ that the builds use as they are:
//   quorvane.ico       16, 32 and 48 pixels as 16- and 256-colour bitmaps (what Windows 95
//                      to XP read), and 256 pixels as PNG (what today's shell shows)
//   quorvane-192.png   the page's favicon and its app manifest icon
//   quorvane-512.png   the app manifest's large icon
// Regenerate with: cmake --build --preset native --target icons
#include "saver/animation_model.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The figure: this seed's first lines open into a fan that steps round the whole colour
// wheel, and cross little. It is drawn on a square of this many model pixels.
constexpr int32_t FigureSeed = 37;
constexpr int32_t FigureSize = 512;
constexpr int FigureTicks = 150;
constexpr int ColourLevels = 256;
constexpr int PaletteHues = 42;
constexpr int PaletteShades = 6;

struct Line {
  double x0, y0, x1, y1;
  uint32_t color;
};

// How one size is drawn. Small icons draw fewer, wider and brighter lines, so that they
// read as lines on black rather than as a coloured blur.
struct Style {
  int size;
  int lines;     // how many of the figure's lines, evenly spread over it; 0 for all
  int samples;   // each pixel is the mean of this many samples along each axis
  double width;  // in the icon's pixels
  double brightness;
};

struct Image {
  int size = 0;
  std::vector<uint32_t> pixels;  // red in the low byte, as the model gives colours
};

struct Rgb {
  int red, green, blue;
};

Rgb Unpack(uint32_t color) { return {int(color & 0xFF), int(color >> 8 & 0xFF), int(color >> 16 & 0xFF)}; }
uint32_t Pack(Rgb c) { return uint32_t(c.red) | uint32_t(c.green) << 8 | uint32_t(c.blue) << 16; }

std::vector<Line> FigureLines() {
  SeedRandom(FigureSeed);
  RandomizeArms();
  SetClientSize(FigureSize, FigureSize);
  std::vector<Line> lines;
  for (int tick = 0; tick < FigureTicks; ++tick) {
    const Frame frame = AdvanceFrame();
    if (frame.clearAfter) break;
    lines.push_back({double(frame.from.x), double(frame.from.y), double(frame.to.x), double(frame.to.y), frame.color});
  }
  return lines;
}

double SegmentDistance(const Line &line, double x, double y) {
  const double dx = line.x1 - line.x0;
  const double dy = line.y1 - line.y0;
  const double lengthSquared = dx * dx + dy * dy;
  double t = lengthSquared > 0 ? ((x - line.x0) * dx + (y - line.y0) * dy) / lengthSquared : 0;
  t = std::clamp(t, 0.0, 1.0);
  return std::hypot(x - line.x0 - t * dx, y - line.y0 - t * dy);
}

uint32_t Brighter(uint32_t color, double factor) {
  const Rgb c = Unpack(color);
  auto scale = [factor](int component) { return std::min(255, int(std::lround(component * factor))); };
  return Pack({scale(c.red), scale(c.green), scale(c.blue)});
}

// Each sample takes the colour of the last line that covers it, as the saver paints one
// line over the other; a pixel is the mean of its samples.
Image Render(const std::vector<Line> &figure, const Style &style) {
  const int samples = style.size * style.samples;
  const double scale = double(samples) / FigureSize;
  const double halfWidth = style.width * style.samples / 2;
  std::vector<uint32_t> canvas(size_t(samples) * samples, 0);
  const size_t count = style.lines == 0 ? figure.size() : size_t(style.lines);
  for (size_t n = 0; n < count; ++n) {
    const Line &f = figure[count == figure.size() ? n : n * (figure.size() - 1) / (count - 1)];
    const Line line = {f.x0 * scale, f.y0 * scale, f.x1 * scale, f.y1 * scale, Brighter(f.color, style.brightness)};
    const int left = std::max(0, int(std::min(line.x0, line.x1) - halfWidth));
    const int right = std::min(samples - 1, int(std::max(line.x0, line.x1) + halfWidth) + 1);
    const int top = std::max(0, int(std::min(line.y0, line.y1) - halfWidth));
    const int bottom = std::min(samples - 1, int(std::max(line.y0, line.y1) + halfWidth) + 1);
    for (int y = top; y <= bottom; ++y) {
      for (int x = left; x <= right; ++x) {
        if (SegmentDistance(line, x + 0.5, y + 0.5) <= halfWidth) canvas[size_t(y) * samples + x] = line.color;
      }
    }
  }
  Image image = {style.size, std::vector<uint32_t>(size_t(style.size) * style.size)};
  for (int y = 0; y < style.size; ++y) {
    for (int x = 0; x < style.size; ++x) {
      Rgb sum = {0, 0, 0};
      for (int sy = 0; sy < style.samples; ++sy) {
        for (int sx = 0; sx < style.samples; ++sx) {
          const Rgb c = Unpack(canvas[size_t(y * style.samples + sy) * samples + x * style.samples + sx]);
          sum = {sum.red + c.red, sum.green + c.green, sum.blue + c.blue};
        }
      }
      const int area = style.samples * style.samples;
      image.pixels[size_t(y) * style.size + x] = Pack({sum.red / area, sum.green / area, sum.blue / area});
    }
  }
  return image;
}

// ---- Palettes ---------------------------------------------------------------------------

// The 16 colours that every 16-colour display shows, in their usual order.
std::vector<uint32_t> StandardPalette16() {
  const Rgb colours[16] = {{0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
                           {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
                           {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};
  std::vector<uint32_t> palette;
  for (const Rgb &c : colours) palette.push_back(Pack(c));
  return palette;
}

// Lines of the colour wheel on black: the wheel's hues, each at a few shades of its
// full strength, then greys for where lines cross.
std::vector<uint32_t> WheelPalette256() {
  std::vector<uint32_t> palette = {0};
  for (int hue = 0; hue < PaletteHues; ++hue) {
    const int position = hue * HueWheelLength / PaletteHues;
    const int band = position / 255;
    const int step = position % 255;
    const Rgb bands[6] = {{0, step, 255},       {0, 255, 255 - step}, {step, 255, 0},
                          {255, 255 - step, 0}, {255, 0, step},       {255 - step, 0, 255}};
    for (int shade = 1; shade <= PaletteShades; ++shade) {
      const Rgb c = bands[band];
      palette.push_back(
          Pack({c.red * shade / PaletteShades, c.green * shade / PaletteShades, c.blue * shade / PaletteShades}));
    }
  }
  for (int grey = 1; palette.size() < ColourLevels; ++grey) {
    const int level = grey * 255 / 4;
    palette.push_back(Pack({level, level, level}));
  }
  return palette;
}

std::vector<uint8_t> Quantize(const Image &image, const std::vector<uint32_t> &palette) {
  std::vector<uint8_t> indices;
  for (uint32_t pixel : image.pixels) {
    const Rgb p = Unpack(pixel);
    int best = 0;
    int bestDistance = 1 << 30;
    for (size_t i = 0; i < palette.size(); ++i) {
      const Rgb c = Unpack(palette[i]);
      const int distance = (p.red - c.red) * (p.red - c.red) + (p.green - c.green) * (p.green - c.green) +
                           (p.blue - c.blue) * (p.blue - c.blue);
      if (distance < bestDistance) {
        best = int(i);
        bestDistance = distance;
      }
    }
    indices.push_back(uint8_t(best));
  }
  return indices;
}

// ---- Files ------------------------------------------------------------------------------

using Bytes = std::vector<uint8_t>;

void Put16(Bytes &out, uint32_t value) {
  out.push_back(uint8_t(value));
  out.push_back(uint8_t(value >> 8));
}

void Put32(Bytes &out, uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void PutBig32(Bytes &out, uint32_t value) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(value >> shift));
}

void PngChunk(Bytes &out, const char *type, const Bytes &data) {
  PutBig32(out, uint32_t(data.size()));
  Bytes typed(type, type + 4);
  typed.insert(typed.end(), data.begin(), data.end());
  out.insert(out.end(), typed.begin(), typed.end());
  PutBig32(out, uint32_t(crc32(0, typed.data(), uInt(typed.size()))));
}

// An 8-bit palette PNG: lines on black compress far better as indices than as colours.
Bytes Png(const Image &image, const std::vector<uint32_t> &palette) {
  const std::vector<uint8_t> indices = Quantize(image, palette);
  Bytes header;
  PutBig32(header, uint32_t(image.size));
  PutBig32(header, uint32_t(image.size));
  header.insert(header.end(), {8, 3, 0, 0, 0});  // depth 8, palette, deflate, no filter choice, no interlace
  Bytes colours;
  for (uint32_t colour : palette) {
    const Rgb c = Unpack(colour);
    colours.insert(colours.end(), {uint8_t(c.red), uint8_t(c.green), uint8_t(c.blue)});
  }
  Bytes rows;
  for (int y = 0; y < image.size; ++y) {
    rows.push_back(0);  // no filter
    rows.insert(rows.end(), indices.begin() + size_t(y) * image.size, indices.begin() + size_t(y + 1) * image.size);
  }
  uLongf packedSize = compressBound(uLong(rows.size()));
  Bytes packed(packedSize);
  compress2(packed.data(), &packedSize, rows.data(), uLong(rows.size()), Z_BEST_COMPRESSION);
  packed.resize(packedSize);
  Bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PngChunk(out, "IHDR", header);
  PngChunk(out, "PLTE", colours);
  PngChunk(out, "IDAT", packed);
  PngChunk(out, "IEND", {});
  return out;
}

// An icon image as the old shells read it: a bitmap header of twice the height (colour
// rows, then the transparency mask), the palette, the colour rows bottom-up, then a mask
// of zeros (every pixel opaque). Rows are padded to four bytes.
Bytes IconBitmap(const Image &image, const std::vector<uint32_t> &palette, int bitsPerPixel) {
  const std::vector<uint8_t> indices = Quantize(image, palette);
  const int colourRow = (image.size * bitsPerPixel + 31) / 32 * 4;
  const int maskRow = (image.size + 31) / 32 * 4;
  Bytes out;
  Put32(out, 40);
  Put32(out, uint32_t(image.size));
  Put32(out, uint32_t(image.size * 2));
  Put16(out, 1);
  Put16(out, uint32_t(bitsPerPixel));
  Put32(out, 0);  // uncompressed
  Put32(out, uint32_t((colourRow + maskRow) * image.size));
  for (int i = 0; i < 4; ++i) Put32(out, 0);  // resolution, colours used and important: all defaults
  for (size_t i = 0; i < (size_t(1) << bitsPerPixel); ++i) {
    const Rgb c = i < palette.size() ? Unpack(palette[i]) : Rgb{0, 0, 0};
    out.insert(out.end(), {uint8_t(c.blue), uint8_t(c.green), uint8_t(c.red), 0});
  }
  for (int y = image.size - 1; y >= 0; --y) {
    Bytes row(colourRow, 0);
    for (int x = 0; x < image.size; ++x) {
      const uint8_t index = indices[size_t(y) * image.size + x];
      if (bitsPerPixel == 8) {
        row[x] = index;
      } else {
        row[x / 2] |= x % 2 == 0 ? uint8_t(index << 4) : index;
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  out.insert(out.end(), size_t(maskRow) * image.size, 0);
  return out;
}

struct IconEntry {
  int size;
  int colours;  // 0 for 256 and more
  int bitsPerPixel;
  Bytes data;
};

// The directory, then each image; a size of 256 is written as 0.
Bytes Icon(const std::vector<IconEntry> &entries) {
  Bytes out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, uint32_t(entries.size()));
  uint32_t offset = uint32_t(6 + 16 * entries.size());
  for (const IconEntry &entry : entries) {
    out.push_back(uint8_t(entry.size & 0xFF));
    out.push_back(uint8_t(entry.size & 0xFF));
    out.push_back(uint8_t(entry.colours));
    out.push_back(0);
    Put16(out, 1);
    Put16(out, uint32_t(entry.bitsPerPixel));
    Put32(out, uint32_t(entry.data.size()));
    Put32(out, offset);
    offset += uint32_t(entry.data.size());
  }
  for (const IconEntry &entry : entries) out.insert(out.end(), entry.data.begin(), entry.data.end());
  return out;
}

bool WriteFile(const std::string &path, const Bytes &bytes) {
  FILE *file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

constexpr Style Icon16 = {.size = 16, .lines = 6, .samples = 1, .width = 1.0, .brightness = 1.2};
constexpr Style Icon32 = {.size = 32, .lines = 12, .samples = 1, .width = 1.0, .brightness = 1.2};
constexpr Style Icon48 = {.size = 48, .lines = 18, .samples = 2, .width = 1.0, .brightness = 1.2};
constexpr Style Icon192 = {.size = 192, .lines = 40, .samples = 2, .width = 1.0, .brightness = 1.0};
constexpr Style Icon256 = {.size = 256, .lines = 24, .samples = 2, .width = 1.5, .brightness = 1.0};
constexpr Style Icon512 = {.size = 512, .lines = 40, .samples = 2, .width = 2.0, .brightness = 1.0};

}  // namespace

int main(int argc, char **argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const std::vector<Line> figure = FigureLines();
  const std::vector<uint32_t> vga = StandardPalette16();
  const std::vector<uint32_t> wheel = WheelPalette256();
  std::vector<IconEntry> entries;
  for (const Style &style : {Icon16, Icon32, Icon48}) {
    const Image image = Render(figure, style);
    entries.push_back({style.size, 16, 4, IconBitmap(image, vga, 4)});
    entries.push_back({style.size, 0, 8, IconBitmap(image, wheel, 8)});
  }
  entries.push_back({256, 0, 8, Png(Render(figure, Icon256), wheel)});
  const bool written = WriteFile(folder + "/quorvane.ico", Icon(entries)) &&
                       WriteFile(folder + "/quorvane-192.png", Png(Render(figure, Icon192), wheel)) &&
                       WriteFile(folder + "/quorvane-512.png", Png(Render(figure, Icon512), wheel));
  if (!written) std::fprintf(stderr, "%s: could not write the icons into %s\n", argv[0], folder.c_str());
  return written ? 0 : 1;
}
