// Message boxes of the Qt program, and the texts it hands to Qt.
#pragma once

#include <QWidget>

#include <functional>
#include <string_view>

#include "MessageSink.h"

namespace korvane::qt {

/// QMessageBox, owned by the window when it is on screen. A box raised while the window is still
/// hidden (during the first scan) has no owner, so it appears on its own before the window does.
class MessageBoxSink final : public MessageSink {
 public:
  /// owner gives the window to own the boxes, or null.
  explicit MessageBoxSink(std::function<QWidget*()> owner = {}) : owner_(std::move(owner)) {}
  void ShowMessage(std::string_view text, std::string_view caption, MessageIcon icon) override;

 private:
  std::function<QWidget*()> owner_;
};

/// Our UTF-8 text as Qt's.
inline QString QtText(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

/// The window if it is on screen, otherwise null.
QWidget* OwnerIfShown(QWidget* window);

}  // namespace korvane::qt
