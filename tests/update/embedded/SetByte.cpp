// korvane-setbyte FILE OFFSET VALUE: overwrites one byte of an existing file, so the check of
// vendor images can be shown images that are wrong in exactly one place.
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::cerr << "usage: korvane-setbyte FILE OFFSET VALUE\n";
    return 2;
  }
  try {
    const unsigned long long offset = std::stoull(argv[2], nullptr, 0);
    const unsigned long value = std::stoul(argv[3], nullptr, 0);
    std::fstream file(argv[1], std::ios::in | std::ios::out | std::ios::binary);
    file.seekg(0, std::ios::end);
    if (!file || value > 0xFF || offset >= static_cast<unsigned long long>(file.tellg())) {
      std::cerr << "korvane-setbyte: no byte " << argv[2] << " in " << argv[1] << " to set to "
                << argv[3] << '\n';
      return 1;
    }
    file.seekp(static_cast<std::streamoff>(offset));
    file.put(static_cast<char>(value));
    return file.flush() ? 0 : 1;
  } catch (const std::exception&) {
    std::cerr << "korvane-setbyte: OFFSET and VALUE must be numbers\n";
    return 2;
  }
}
