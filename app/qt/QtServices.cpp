#include "QtServices.h"

#include <QMessageBox>

#include <iostream>

namespace korvane::qt {
namespace {

QString Text(std::string_view text) { return QString::fromUtf8(text.data(), std::ssize(text)); }

}  // namespace

void MessageBoxSink::ShowMessage(std::string_view text, std::string_view caption,
                                 MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Warning,
                  Text(caption), Text(text), QMessageBox::Ok, owner_ ? owner_() : nullptr);
  box.exec();
}

void StderrDebugOutput::Write(std::string_view text) {
  if (enabled_) std::cerr << text << std::flush;
}

QWidget* OwnerIfShown(QWidget* window) {
  return window != nullptr && window->isVisible() ? window : nullptr;
}

}  // namespace korvane::qt
