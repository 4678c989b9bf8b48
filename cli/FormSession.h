// The window's logic driven from the command line: the same TForm1 the window runs, over a
// terminal view, so that check and update send the bridge what the window sends it.
#pragma once

#include <ostream>
#include <string_view>

#include "Command.h"
#include "Desktop.h"
#include "EmbeddedImages.h"
#include "StreamDebugOutput.h"
#include "TForm1.h"
#include "TerminalView.h"

namespace korvane::cli {

/// The progress style for the command's options and output: none for JSON, a bar on a
/// terminal, plain lines otherwise.
ProgressStyle ProgressStyleFor(const GlobalOptions& options, const Console& console);

/// A TForm1 over the command's devices and a terminal view, with the carried images and no
/// desktop: a command-line tool closes none of the user's dialogs.
class FormSession {
 public:
  explicit FormSession(CommandContext& context);
  FormSession(const FormSession&) = delete;
  FormSession& operator=(const FormSession&) = delete;

  /// What the window does when it starts: the scan, which ends in the version check.
  void Scan() { form_.btn_RefreshClick(); }

  TForm1& form() { return form_; }
  const TForm1& form() const { return form_; }
  TerminalView& view() { return view_; }
  const TerminalView& view() const { return view_; }

 private:
  TerminalView view_;
  StreamDebugOutput debug_;
  EmbeddedImages images_;
  NoDesktop desktop_;
  TForm1 form_;
};

}  // namespace korvane::cli
