// korvane-picturegen <outdir>: draws the window's pictures and icon (BACKGROUND.bmp,
// LOADING1-3.bmp, GOOD.bmp, UPDATE.bmp, CROSS.bmp and MAINICON.ico) into outdir, and the icon
// for Linux desktops as icons/korvane-update-tool-<side>.png. The build runs it; the window
// carries the files as resources and the .deb installs the PNG icons.

#include <exception>
#include <iostream>

#include "Pictures.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: korvane-picturegen <outdir>\n";
    return 2;
  }
  try {
    return korvane::pictures::WritePictures(argv[1], std::cerr) ? 0 : 1;
  } catch (const std::exception& error) {
    std::cerr << "korvane-picturegen: " << error.what() << '\n';
    return 1;
  }
}
