// korvane-fw: list, check and update Korvane enclosures from a terminal.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "Cli.h"
#include "PlatformDevices.h"

namespace {

bool IsTerminal(std::FILE* stream) {
#ifdef _WIN32
  return _isatty(_fileno(stream)) != 0;
#else
  return isatty(fileno(stream)) != 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const korvane::cli::Console console{std::cin,          std::cout,          std::cerr,
                                      IsTerminal(stdin), IsTerminal(stdout), {}};
  return korvane::cli::RunKorvaneFw(args, console, korvane::PlatformDevices);
}
