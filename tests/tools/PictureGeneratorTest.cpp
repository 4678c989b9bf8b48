#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "BmpWriter.h"
#include "Canvas.h"
#include "IcoWriter.h"
#include "Pictures.h"
#include "PngWriter.h"
#include "StrokeFont.h"
#include "device/linux/ScratchDir.h"

namespace korvane::pictures {
namespace {

std::uint32_t Read16(const Bytes& bytes, std::size_t at) {
  return bytes.at(at) | (static_cast<std::uint32_t>(bytes.at(at + 1)) << 8);
}

std::uint32_t Read32(const Bytes& bytes, std::size_t at) {
  return Read16(bytes, at) | (Read16(bytes, at + 2) << 16);
}

Bytes ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// The checks every picture file must pass: a 24-bit bottom-up bitmap of that size whose
/// headers agree with the file's length.
void ExpectBitmap(const std::string& name, const Bytes& file, std::uint32_t width,
                  std::uint32_t height) {
  SCOPED_TRACE(name);
  const std::uint32_t stride = (width * 3 + 3) / 4 * 4;
  ASSERT_EQ(file.size(), 54u + stride * height);
  EXPECT_EQ(file[0], 'B');
  EXPECT_EQ(file[1], 'M');
  EXPECT_EQ(Read32(file, 2), file.size());
  EXPECT_EQ(Read32(file, 10), 54u);  // pixels follow the two headers
  EXPECT_EQ(Read32(file, 14), 40u);  // BITMAPINFOHEADER
  EXPECT_EQ(Read32(file, 18), width);
  EXPECT_EQ(Read32(file, 22), height);  // positive: bottom-up
  EXPECT_EQ(Read16(file, 26), 1u);
  EXPECT_EQ(Read16(file, 28), 24u);
  EXPECT_EQ(Read32(file, 30), 0u);  // not compressed
  EXPECT_EQ(Read32(file, 34), stride * height);
}

/// The icon's directory and each image's header and alpha: returns the sizes it holds.
std::set<std::uint32_t> IconSides(const Bytes& file) {
  std::set<std::uint32_t> sides;
  EXPECT_EQ(Read16(file, 0), 0u);
  EXPECT_EQ(Read16(file, 2), 1u);  // an icon, not a cursor
  const std::uint32_t count = Read16(file, 4);
  std::size_t expectedOffset = 6 + 16 * count;
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t entry = 6 + 16 * i;
    const std::uint32_t side = file.at(entry) == 0 ? 256 : file.at(entry);
    const std::uint32_t size = Read32(file, entry + 8);
    const std::uint32_t offset = Read32(file, entry + 12);
    SCOPED_TRACE("icon image " + std::to_string(side));
    EXPECT_EQ(Read16(file, entry + 6), 32u);
    EXPECT_EQ(offset, expectedOffset);  // packed, in order, no overlap
    EXPECT_EQ(size, 40 + side * side * 4 + (side + 31) / 32 * 4 * side);
    EXPECT_EQ(Read32(file, offset + 4), side);
    EXPECT_EQ(Read32(file, offset + 8), side * 2);  // colours and AND mask
    EXPECT_EQ(Read16(file, offset + 14), 32u);
    // The rounded square leaves the corner clear and covers the middle.
    const std::size_t bottomLeftAlpha = offset + 40 + 3;
    const std::size_t middleAlpha = offset + 40 + ((side / 2) * side + side / 2) * 4 + 3;
    EXPECT_EQ(file.at(bottomLeftAlpha), 0);
    EXPECT_EQ(file.at(middleAlpha), 255);
    EXPECT_EQ(file.at(offset + 40 + side * side * 4) & 0x80, 0x80) << "corner not masked";
    expectedOffset = offset + size;
    sides.insert(side);
  }
  EXPECT_EQ(expectedOffset, file.size());
  return sides;
}

TEST(PictureGenerator, WritesEveryFileTheWindowLoadsTheSameOnEveryRun) {
  korvane::testing::ScratchDir scratch;
  std::ostringstream errors;
  ASSERT_TRUE(WritePictures(scratch.Path() / "pictures", errors)) << errors.str();
  EXPECT_EQ(errors.str(), "");

  const std::vector<PictureFile> again = AllPictures();
  ASSERT_EQ(again.size(), 8u + kPngIconSides.size());
  for (const PictureFile& expected : again) {
    const Bytes written = ReadFile(scratch.Path() / "pictures" / expected.name);
    EXPECT_TRUE(written == expected.bytes) << expected.name << " differs between runs";
  }

  const Bytes banner = ReadFile(scratch.Path() / "pictures" / "BACKGROUND.bmp");
  ExpectBitmap("BACKGROUND.bmp", banner, 1000, 400);
  for (const char* name :
       {"LOADING1.bmp", "LOADING2.bmp", "LOADING3.bmp", "GOOD.bmp", "UPDATE.bmp", "CROSS.bmp"})
    ExpectBitmap(name, ReadFile(scratch.Path() / "pictures" / name), 150, 150);

  const std::set<std::uint32_t> sides =
      IconSides(ReadFile(scratch.Path() / "pictures" / "MAINICON.ico"));
  for (const std::uint32_t side : {16u, 32u, 48u}) EXPECT_TRUE(sides.contains(side)) << side;
}

TEST(PictureGenerator, ReportsAFolderItCannotCreate) {
  korvane::testing::ScratchDir scratch;
  std::ofstream(scratch.Path() / "taken") << "a file, not a folder";
  std::ostringstream errors;
  EXPECT_FALSE(WritePictures(scratch.Path() / "taken" / "pictures", errors));
  EXPECT_NE(errors.str().find("cannot create"), std::string::npos) << errors.str();
}

TEST(BmpWriter, StoresRowsBottomUpInBlueGreenRedOrderPaddedToFourBytes) {
  Canvas canvas(5, 2, Rgb(0xFFFFFF));
  canvas.Fill(Polygon({{0, 0}, {1, 0}, {1, 1}, {0, 1}}), Rgb(0xFF0000));  // top left
  canvas.Fill(Polygon({{4, 1}, {5, 1}, {5, 2}, {4, 2}}), Rgb(0x0000FF));  // bottom right
  const Bytes file = EncodeBmp(canvas);
  ExpectBitmap("5 x 2", file, 5, 2);
  constexpr std::size_t stride = 16;
  const Bytes bottomRight(file.begin() + 54 + 12, file.begin() + 54 + 15);
  const Bytes topLeft(file.begin() + 54 + stride, file.begin() + 54 + stride + 3);
  EXPECT_EQ(bottomRight, (Bytes{0xFF, 0x00, 0x00}));
  EXPECT_EQ(topLeft, (Bytes{0x00, 0x00, 0xFF}));
  EXPECT_EQ(file[54 + 15], 0);  // padding
}

std::uint32_t ReadBe32(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint32_t>(bytes.at(at)) << 24 | bytes.at(at + 1) << 16 |
         bytes.at(at + 2) << 8 | bytes.at(at + 3);
}

/// The data of a zlib stream of stored deflate blocks, each length checked against its
/// complement and the whole against the Adler-32 at the end.
Bytes InflateStored(const Bytes& stream) {
  EXPECT_EQ(Read16(stream, 0), 0x0178u);  // deflate, 32 KB window, no dictionary
  Bytes data;
  std::size_t at = 2;
  bool final = false;
  while (!final && at + 5 <= stream.size()) {
    final = stream[at] & 1;
    const std::uint32_t length =
        std::min<std::uint32_t>(Read16(stream, at + 1), stream.size() - at - 5);
    EXPECT_EQ((stream[at] >> 1) & 3, 0) << "not a stored block at " << at;
    EXPECT_EQ(Read16(stream, at + 3), length ^ 0xFFFF) << "length at " << at;
    data.insert(data.end(), stream.begin() + at + 5, stream.begin() + at + 5 + length);
    at += 5 + length;
  }
  EXPECT_TRUE(final) << "no final block";
  EXPECT_EQ(at + 4, stream.size());
  EXPECT_EQ(ReadBe32(stream, at), Adler32(data));
  return data;
}

/// A PNG file read as a viewer reads it, every CRC checked: its chunk types, size and RGBA rows.
struct DecodedPng {
  std::string chunks;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  Bytes rgba;
};

DecodedPng DecodePng(const Bytes& file) {
  EXPECT_EQ(Bytes(file.begin(), file.begin() + 8),
            (Bytes{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}));
  DecodedPng png;
  Bytes stream;
  for (std::size_t at = 8, length = 0; at + 12 <= file.size(); at += 12 + length) {
    length = std::min<std::size_t>(ReadBe32(file, at), file.size() - at - 12);
    const std::string type(file.begin() + at + 4, file.begin() + at + 8);
    png.chunks += type + " ";
    EXPECT_EQ(ReadBe32(file, at + 8 + length), Crc32(std::span(file).subspan(at + 4, 4 + length)))
        << type;
    if (type == "IHDR") {
      png.width = ReadBe32(file, at + 8);
      png.height = ReadBe32(file, at + 12);
      // 8-bit RGBA, compression and filter method 0, not interlaced.
      EXPECT_EQ(Bytes(file.begin() + at + 16, file.begin() + at + 21), (Bytes{8, 6, 0, 0, 0}));
    }
    if (type == "IDAT")
      stream.insert(stream.end(), file.begin() + at + 8, file.begin() + at + 8 + length);
  }
  const Bytes rows = InflateStored(stream);
  const std::size_t stride = 1 + 4 * std::size_t{png.width};
  EXPECT_EQ(rows.size(), stride * png.height);
  for (std::size_t start = 0; start + stride <= rows.size(); start += stride) {
    EXPECT_EQ(rows[start], 0) << "filtered row at " << start;
    png.rgba.insert(png.rgba.end(), rows.begin() + start + 1, rows.begin() + start + stride);
  }
  return png;
}

/// Every alpha from clear to opaque over changing colours.
Canvas Gradient(int width, int height) {
  Canvas canvas(width, height, Rgb(0x000000, 0.0));
  canvas.Fill(
      RoundedRect({1, 1, width - 1.0, height - 1.0}, 4),
      LinearGradient({0, 0}, {1.0 * width, 1.0 * height}, Rgb(0xFF8000, 0.0), Rgb(0x2040C0, 1.0)));
  return canvas;
}

TEST(PngWriter, WritesFilesThatDecodeToTheCanvas) {
  const std::string check = "123456789";
  EXPECT_EQ(Crc32(Bytes(check.begin(), check.end())), 0xCBF43926u);
  EXPECT_EQ(Adler32(Bytes(check.begin(), check.end())), 0x091E01DEu);

  // 64 x 255 fills exactly one stored block (255 rows of 257 bytes); the 256 icon needs five.
  std::vector<std::pair<Canvas, Bytes>> cases;
  for (const Canvas& canvas : {Canvas(1, 1, Rgb(0x336699, 0.5)), Gradient(64, 255)})
    cases.emplace_back(canvas, EncodePng(canvas));
  for (const PictureFile& file : AllPictures()) {
    for (const int side : kPngIconSides)
      if (file.name == PngIconName(side)) cases.emplace_back(MarkImage(side), file.bytes);
  }
  ASSERT_EQ(cases.size(), 2 + kPngIconSides.size());

  for (const auto& [canvas, file] : cases) {
    SCOPED_TRACE(std::to_string(canvas.Width()) + " x " + std::to_string(canvas.Height()));
    const DecodedPng png = DecodePng(file);
    EXPECT_EQ(png.chunks, "IHDR IDAT IEND ");
    ASSERT_EQ(png.width, static_cast<std::uint32_t>(canvas.Width()));
    ASSERT_EQ(png.rgba.size(), 4u * canvas.Width() * canvas.Height());
    int unlike = 0;
    for (std::size_t i = 0; i < png.rgba.size(); ++i) {
      const Colour c =
          canvas.At(static_cast<int>(i / 4 % png.width), static_cast<int>(i / 4 / png.width));
      const double component = std::array{c.r, c.g, c.b, c.a}[i % 4];
      unlike += std::abs(png.rgba[i] - component * 255.0) > 0.5 + 1e-9;
    }
    EXPECT_EQ(unlike, 0) << "components unlike the canvas";
  }
}

TEST(IcoWriter, RefusesImagesAnIconCannotHold) {
  EXPECT_THROW(EncodeIco({}), std::invalid_argument);
  std::vector<Canvas> oblong;
  oblong.emplace_back(16, 8, Rgb(0));
  EXPECT_THROW(EncodeIco(oblong), std::invalid_argument);
  std::vector<Canvas> huge;
  huge.emplace_back(512, 512, Rgb(0));
  EXPECT_THROW(EncodeIco(huge), std::invalid_argument);
}

/// How many pixels have one component clearly above both others: 0 red, 1 green, 2 blue.
int Dominated(const Canvas& canvas, int component) {
  int count = 0;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      const Colour c = canvas.At(x, y);
      const double v[3] = {c.r, c.g, c.b};
      const double others = std::max(v[(component + 1) % 3], v[(component + 2) % 3]);
      if (v[component] > others + 0.15) ++count;
    }
  }
  return count;
}

/// How many white pixels lie well inside the disc, where the mark is drawn.
int WhiteNearMiddle(const Canvas& canvas) {
  int count = 0;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      const double dx = x + 0.5 - kBadgeSide / 2.0;
      const double dy = y + 0.5 - kBadgeSide / 2.0;
      const Colour c = canvas.At(x, y);
      if (dx * dx + dy * dy < 45.0 * 45.0 && std::min({c.r, c.g, c.b}) > 0.9) ++count;
    }
  }
  return count;
}

TEST(Badges, EachVerdictIsItsOwnColourOnWhite) {
  const Canvas good = GoodBadge();
  const Canvas update = UpdateBadge();
  const Canvas cross = CrossBadge();
  const int area = kBadgeSide * kBadgeSide;
  EXPECT_GT(Dominated(good, 1), area / 4);
  EXPECT_EQ(Dominated(good, 0), 0);
  EXPECT_GT(Dominated(update, 2), area / 4);
  EXPECT_EQ(Dominated(update, 0), 0);
  EXPECT_GT(Dominated(cross, 0), area / 4);
  EXPECT_EQ(Dominated(cross, 2), 0);
  for (const Canvas* badge : {&good, &update, &cross}) {
    const Colour corner = badge->At(0, 0);
    EXPECT_DOUBLE_EQ(corner.r + corner.g + corner.b, 3.0);  // the window's white
    EXPECT_GT(WhiteNearMiddle(*badge), 600) << "no white mark on the disc";
  }
}

/// The pixels where two pictures of the same size differ.
int Differences(const Canvas& a, const Canvas& b) {
  int count = 0;
  for (int y = 0; y < a.Height(); ++y) {
    for (int x = 0; x < a.Width(); ++x) {
      const Colour p = a.At(x, y);
      const Colour q = b.At(x, y);
      if (p.r != q.r || p.g != q.g || p.b != q.b) ++count;
    }
  }
  return count;
}

TEST(Badges, LoadingFramesDifferAndSitOnWhite) {
  std::vector<Canvas> frames;
  for (int frame = 0; frame < kLoadingFrames; ++frame) frames.push_back(LoadingFrame(frame));
  for (int i = 0; i < kLoadingFrames; ++i) {
    EXPECT_GT(Differences(frames[i], frames[(i + 1) % kLoadingFrames]), 500) << i;
    EXPECT_GT(Dominated(frames[i], 2), 1000) << "frame " << i << " has little ink";
    const Colour corner = frames[i].At(kBadgeSide - 1, kBadgeSide - 1);
    EXPECT_DOUBLE_EQ(corner.r + corner.g + corner.b, 3.0);
  }
}

/// The columns the ink of a picture spans: first and one past the last.
std::pair<int, int> InkColumns(const Canvas& canvas) {
  int first = canvas.Width();
  int last = 0;
  for (int y = 0; y < canvas.Height(); ++y) {
    for (int x = 0; x < canvas.Width(); ++x) {
      if (canvas.At(x, y).r < 0.5) {
        first = std::min(first, x);
        last = std::max(last, x + 1);
      }
    }
  }
  return {first, last};
}

TEST(StrokeFont, TextWidthIsTheWidthOfTheInk) {
  const TextStyle style{20.0, 3.0, 1.0};
  for (const char* text : {"KORVANE", "Update Tool", "il", "USB storage"}) {
    Canvas canvas(400, 40, Rgb(0xFFFFFF));
    canvas.Fill(Text(text, {10.0, 30.0}, style), Rgb(0x000000));
    const auto [first, last] = InkColumns(canvas);
    EXPECT_NEAR(first, 10, 1) << text;
    EXPECT_NEAR(last, 10 + TextWidth(text, style), 1) << text;
  }
}

TEST(StrokeFont, RefusesLettersItDoesNotHave) {
  EXPECT_THROW(Text("KORVANE 2", {0, 0}, {10, 2, 1}), std::invalid_argument);
}

/// The ink on a white canvas, in pixels: full coverage counts 1, half coverage a half.
double InkArea(const Canvas& canvas) {
  double area = 0.0;
  for (int y = 0; y < canvas.Height(); ++y)
    for (int x = 0; x < canvas.Width(); ++x) area += 1.0 - canvas.At(x, y).r;
  return area;
}

/// Whether some pixel is neither paper nor ink: the edges are smoothed.
bool HasSoftEdges(const Canvas& canvas) {
  for (int y = 0; y < canvas.Height(); ++y)
    for (int x = 0; x < canvas.Width(); ++x)
      if (canvas.At(x, y).r > 0.1 && canvas.At(x, y).r < 0.9) return true;
  return false;
}

TEST(Canvas, ShapesCoverTheirAreaWithSmoothedEdges) {
  struct Case {
    const char* what;
    Shape shape;
    double area;
  };
  const std::vector<Case> cases{
      {"circle", Circle({20.3, 19.6}, 11.2), 3.14159265358979 * 11.2 * 11.2},
      {"triangle", Polygon({{4.5, 5.2}, {36.1, 9.7}, {12.4, 33.3}}),
       0.5 * (31.6 * 28.1 - 4.5 * 7.9)},
      {"turned bar", Turn(RoundedRect({5.5, 17.3, 35.5, 23.3}, 0), {20, 20}, 90), 30.0 * 6.0},
      {"ring", Ring({20, 20}, 12.0, 3.0), 2 * 3.14159265358979 * 12.0 * 3.0},
  };
  for (const Case& c : cases) {
    Canvas canvas(40, 40, Rgb(0xFFFFFF));
    canvas.Fill(c.shape, Rgb(0x000000));
    EXPECT_NEAR(InkArea(canvas), c.area, c.area * 0.01) << c.what;
    EXPECT_TRUE(HasSoftEdges(canvas)) << c.what;
  }
}

}  // namespace
}  // namespace korvane::pictures
