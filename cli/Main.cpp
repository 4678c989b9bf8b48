// korvane-fw: list, check and update Korvane enclosures from a terminal.
#include <iostream>
#include <string>
#include <vector>

#include "Cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return korvane::cli::RunKorvaneFw(args, std::cout, std::cerr, korvane::cli::PlatformDevices);
}
