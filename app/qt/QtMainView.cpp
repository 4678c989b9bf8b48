#include "QtMainView.h"

#include <QComboBox>
#include <QLabel>
#include <QPixmap>
#include <QProgressBar>

#include <stdexcept>
#include <string>

#include "QtServices.h"
#include "WindowLayout.h"

namespace korvane::qt {

QString PicturePath(std::string_view name) {
  return QStringLiteral(":/pictures/") + QtText(name) + QStringLiteral(".bmp");
}

QtMainView::QtMainView(QWidget& window, TimerTick tick, std::function<void()> pump)
    : window_(window), tick_(std::move(tick)), pump_(std::move(pump)) {}

QWidget* QtMainView::Child(Control control) const {
  const std::string_view name = ControlName(control);
  auto* child = window_.findChild<QWidget*>(QtText(name), Qt::FindDirectChildrenOnly);
  if (child == nullptr) throw std::logic_error("the window has no control " + std::string(name));
  return child;
}

template <class Widget>
Widget* QtMainView::Child(Control control) const {
  auto* widget = qobject_cast<Widget*>(Child(control));
  if (widget == nullptr) {
    throw std::logic_error("the control " + std::string(ControlName(control)) +
                           " is not of the kind the window's logic expects");
  }
  return widget;
}

void QtMainView::ShowPicture(Control image, Picture picture) {
  Child<QLabel>(image)->setPixmap(QPixmap(PicturePath(PictureName(picture))));
}

void QtMainView::ShowFrame(std::size_t frame) {
  if (frame < layout::kLoadingFrames.size()) {
    Child<QLabel>(Control::Image2)->setPixmap(QPixmap(PicturePath(layout::kLoadingFrames[frame])));
  }
}

void QtMainView::SetVisible(Control control, bool visible) { Child(control)->setVisible(visible); }

void QtMainView::SetEnabled(Control control, bool enabled) { Child(control)->setEnabled(enabled); }

void QtMainView::SetStatusText(std::string_view text) {
  Child<QLabel>(Control::lblStaust)->setText(QtText(text));
}

void QtMainView::ClearDeviceList() { Child<QComboBox>(Control::cbb_DeviceList)->clear(); }

void QtMainView::AddDeviceLine(std::string_view line) {
  Child<QComboBox>(Control::cbb_DeviceList)->addItem(QtText(line));
}

void QtMainView::SelectDevice(int index) {
  Child<QComboBox>(Control::cbb_DeviceList)->setCurrentIndex(index);
}

int QtMainView::SelectedDevice() const {
  return Child<QComboBox>(Control::cbb_DeviceList)->currentIndex();
}

void QtMainView::StartTimer(std::uintptr_t id, std::chrono::milliseconds interval) {
  auto& timer = timers_[id];
  if (!timer) {
    timer = std::make_unique<QTimer>();
    QObject::connect(timer.get(), &QTimer::timeout, [this, id] { Tick(id); });
  }
  timer->start(interval);
}

void QtMainView::StopTimer(std::uintptr_t id) {
  if (const auto found = timers_.find(id); found != timers_.end()) found->second->stop();
}

bool QtMainView::TimerArmed(std::uintptr_t id) const {
  const auto found = timers_.find(id);
  return found != timers_.end() && found->second->isActive();
}

std::chrono::milliseconds QtMainView::TimerInterval(std::uintptr_t id) const {
  return TimerArmed(id) ? timers_.at(id)->intervalAsDuration() : std::chrono::milliseconds(0);
}

void QtMainView::SetProgress(int percent) {
  Child<QProgressBar>(Control::UpdateProgressBar)->setValue(percent);
}

}  // namespace korvane::qt
