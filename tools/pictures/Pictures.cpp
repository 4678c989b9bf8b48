#include "Pictures.h"

#include <fstream>
#include <system_error>

#include "BmpWriter.h"
#include "IcoWriter.h"
#include "PngWriter.h"

namespace korvane::pictures {
namespace {

bool MakeFolder(const std::filesystem::path& folder, std::ostream& errors) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error)
    errors << "korvane-picturegen: cannot create " << folder.string() << ": " << error.message()
           << '\n';
  return !error;
}

bool WriteFile(const std::filesystem::path& path, const Bytes& bytes, std::ostream& errors) {
  if (!MakeFolder(path.parent_path(), errors)) return false;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) errors << "korvane-picturegen: cannot write " << path.string() << '\n';
  return static_cast<bool>(out);
}

}  // namespace

std::string PngIconName(int side) {
  return "icons/korvane-update-tool-" + std::to_string(side) + ".png";
}

std::vector<PictureFile> AllPictures() {
  std::vector<PictureFile> files;
  files.push_back({"BACKGROUND.bmp", EncodeBmp(Banner())});
  for (int frame = 0; frame < kLoadingFrames; ++frame)
    files.push_back(
        {"LOADING" + std::to_string(frame + 1) + ".bmp", EncodeBmp(LoadingFrame(frame))});
  files.push_back({"GOOD.bmp", EncodeBmp(GoodBadge())});
  files.push_back({"UPDATE.bmp", EncodeBmp(UpdateBadge())});
  files.push_back({"CROSS.bmp", EncodeBmp(CrossBadge())});
  files.push_back({"MAINICON.ico", EncodeIco(MarkImages())});
  for (const int side : kPngIconSides)
    files.push_back({PngIconName(side), EncodePng(MarkImage(side))});
  return files;
}

bool WritePictures(const std::filesystem::path& folder, std::ostream& errors) {
  if (!MakeFolder(folder, errors)) return false;
  bool written = true;
  for (const PictureFile& file : AllPictures())
    written = WriteFile(folder / file.name, file.bytes, errors) && written;
  return written;
}

}  // namespace korvane::pictures
