// korvane-fw: list, check and update Korvane enclosures from a terminal.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <unistd.h>
#include <csignal>
#endif

#include "Cli.h"
#include "PlatformDevices.h"
#include "Store.h"

namespace {

#ifdef _WIN32
constexpr DWORD kStandardIn = STD_INPUT_HANDLE;
constexpr DWORD kStandardOut = STD_OUTPUT_HANDLE;

/// A console answers GetConsoleMode; a file, pipe or NUL does not. _isatty also says yes for NUL,
/// a character device, so "update <NUL" would ask a question nobody can answer.
bool IsTerminal(DWORD which) {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(which), &mode) != 0;
}
#else
constexpr int kStandardIn = STDIN_FILENO;
constexpr int kStandardOut = STDOUT_FILENO;

bool IsTerminal(int which) { return isatty(which) != 0; }
#endif

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
                                      IsTerminal(kStandardIn),
                                      IsTerminal(kStandardOut),
                                      {},
                                      korvane::cli::DefaultStateFolder()};
  return korvane::cli::RunKorvaneFw(args, console, korvane::PlatformDevices);
}
