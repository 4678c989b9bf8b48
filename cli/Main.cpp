// korvane-fw: list, check and update Korvane enclosures from a terminal.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#include <csignal>
#endif

#include "Backups.h"
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
#ifndef _WIN32
  // A reader that goes away ("korvane-fw update | head") must not end the program between two
  // blocks of a flash write: the failed write is said once instead, and the update goes on.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  const std::vector<std::string> args(argv + 1, argv + argc);
  const korvane::cli::Console console{std::cin,
                                      std::cout,
                                      std::cerr,
                                      IsTerminal(stdin),
                                      IsTerminal(stdout),
                                      {},
                                      korvane::cli::DefaultStateFolder()};
  return korvane::cli::RunKorvaneFw(args, console, korvane::PlatformDevices);
}
