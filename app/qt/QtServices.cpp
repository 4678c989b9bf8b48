#include "QtServices.h"

#include <QMessageBox>

namespace korvane::qt {
void MessageBoxSink::ShowMessage(std::string_view text, std::string_view caption,
                                 MessageIcon icon) {
  QMessageBox box(icon == MessageIcon::Error ? QMessageBox::Critical : QMessageBox::Warning,
                  QtText(caption), QtText(text), QMessageBox::Ok, owner_ ? owner_() : nullptr);
  box.exec();
}

QWidget* OwnerIfShown(QWidget* window) {
  return window != nullptr && window->isVisible() ? window : nullptr;
}

}  // namespace korvane::qt
