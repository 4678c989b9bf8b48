#include "MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <stdexcept>
#include <string>

#include "QtServices.h"

namespace korvane::qt {
namespace {

/// The window's background: the button-highlight colour of the default scheme.
const QColor kBackground{255, 255, 255};
/// The fixed mid grey of the caption under the banner, and of the status text when disabled.
const QColor kGrey{128, 128, 128};

QColor ColourOf(layout::TextColour colour, const QPalette& palette) {
  switch (colour) {
    case layout::TextColour::Grey:
      return kGrey;
    case layout::TextColour::InactiveCaptionText:
      return palette.color(QPalette::Inactive, QPalette::PlaceholderText);
    case layout::TextColour::Default:
      break;
  }
  return palette.color(QPalette::Active, QPalette::Highlight);
}

QFont FontOf(const layout::ControlLayout& row) {
  QFont font(QtText(layout::kFontFace));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(row.fontHeight);
  font.setBold(row.bold);
  return font;
}

QLabel* CreatePicture(QWidget* parent) {
  auto* picture = new QLabel(parent);
  picture->setScaledContents(true);
  return picture;
}

QLabel* CreateLabel(QWidget* parent, const layout::ControlLayout& row) {
  auto* label = new QLabel(QtText(row.text), parent);
  label->setTextFormat(Qt::PlainText);
  label->setAlignment(Qt::AlignCenter);
  label->setWordWrap(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, ColourOf(row.colour, palette));
  palette.setColor(QPalette::Disabled, QPalette::WindowText, kGrey);
  label->setPalette(palette);
  return label;
}

QComboBox* CreateDropDownList(QWidget* parent, const layout::ControlLayout& row) {
  auto* list = new QComboBox(parent);
  list->setEditable(true);
  list->setEditText(QtText(row.text));
  return list;
}

QProgressBar* CreateProgressBar(QWidget* parent) {
  auto* bar = new QProgressBar(parent);
  bar->setRange(0, 100);
  bar->setTextVisible(false);
  return bar;
}

}  // namespace

MainWindow::MainWindow(WindowServices services)
    : services_(services),
      view_(
          *this, [this](std::uintptr_t id) { OnTimer(id); },
          [] { QCoreApplication::processEvents(); }),
      form_(FormServices{services.stack.services(), view_, services.messages, services.debug,
                         services.images, desktop_}),
      shell_(ShellServices{form_, *this, services.messages, services.debug,
                           &services.stack.changes()}),
      animation_([this](std::size_t frame) {
        // The frame is shown on the window's own thread; one still queued when the window goes
        // is dropped with it.
        QMetaObject::invokeMethod(this, [this, frame] { view_.ShowFrame(frame); });
      }) {
  SetUpFrame();
  BuildControls();
  animation_.Resume();
  shell_.ListenForChanges();
  shell_.FirstScan();
  ShowRights();
}

MainWindow::~MainWindow() {
  changePoll_.stop();
  // The animation posts to this window; it ends before the window does.
  animation_.Stop();
}

void MainWindow::SetUpFrame() {
  setObjectName(QtText(layout::kWindowClass));
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(layout::kClientWidth, layout::kClientHeight);
  QPalette frame = palette();
  frame.setColor(QPalette::Window, kBackground);
  setPalette(frame);
  setAutoFillBackground(true);
  QFont font = FontOf(layout::kControls.front());
  setFont(font);
}

void MainWindow::BuildControls() {
  // Each row lies above the rows before it: a later sibling is drawn above an earlier one.
  for (const layout::ControlLayout& row : layout::kControls) {
    QWidget* control = CreateControl(row);
    control->setObjectName(QtText(row.name));
    control->setGeometry(row.left, row.top, row.width, row.height);
    control->setFont(FontOf(row));
    control->setVisible(row.visibleAtStart);
  }
}

QWidget* MainWindow::CreateControl(const layout::ControlLayout& row) {
  switch (row.kind) {
    case layout::Kind::Picture:
      return CreatePicture(this);
    case layout::Kind::Label: {
      QLabel* label = CreateLabel(this, row);
      if (row.name == ControlName(Control::lblStaust)) {
        label->setCursor(Qt::PointingHandCursor);
        label->installEventFilter(this);
      }
      return label;
    }
    case layout::Kind::DropDownList:
      return CreateDropDownList(this, row);
    case layout::Kind::Button: {
      auto* button = new QPushButton(QtText(row.text), this);
      const std::string name(row.name);
      connect(button, &QPushButton::clicked, this, [this, name] {
        if (name == "btn_upd") shell_.Run(Running::Update, [this] { form_.btn_updClick(); });
        if (name == "btn_Refresh") ScanningRun([this] { form_.btn_RefreshClick(); });
        if (name == "btn_Exit") close();
      });
      return button;
    }
    case layout::Kind::ProgressBar:
      return CreateProgressBar(this);
  }
  throw std::logic_error("the layout names a control of no known kind");
}

void MainWindow::FormCreate() {
  if (shell_.listening()) {
    connect(&changePoll_, &QTimer::timeout, this, [this] { PollDeviceChanges(); });
    changePoll_.start(kChangePollInterval);
  }
  setWindowTitle(QtText(layout::kCaption));
}

// Centred on the screen; a screen smaller than the window keeps the caption in reach.
void MainWindow::ShowCentred() {
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(std::max(area.left(), area.center().x() - width() / 2),
         std::max(area.top(), area.center().y() - height() / 2));
  }
  show();
}

void MainWindow::PollDeviceChanges() {
  if (!shell_.PollDeviceChanges()) changePoll_.stop();
}

void MainWindow::OnTimer(std::uintptr_t id) {
  ScanningRun([this, id] { form_.OnRescanTimer(id); });
}

// A click on the status text starts the update while it offers one, or the restart with rights
// while it says they are missing.
void MainWindow::OnStatusClick() {
  if (!rightsMissing_) {
    shell_.Run(Running::Update, [this] { form_.lblStaustClick(); });
  } else if (services_.restartAsAdministrator) {
    services_.restartAsAdministrator();
  }
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonRelease &&
      watched->objectName() == QtText(ControlName(Control::lblStaust))) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const auto* label = static_cast<QWidget*>(watched);
    if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint())) {
      OnStatusClick();
      return true;
    }
  }
  return QWidget::eventFilter(watched, event);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  switch (shell_.RequestClose()) {
    case CloseAnswer::Refused:
      QApplication::beep();
      event->ignore();
      return;
    case CloseAnswer::Deferred:
      event->ignore();
      return;
    case CloseAnswer::Close:
      event->accept();
      return;
  }
}

void MainWindow::RepeatClose() {
  QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
}

// A handler that may scan: once a scan has run, the status text tells whether rights kept the
// disks closed.
void MainWindow::ScanningRun(const std::function<void()>& handler) {
  const std::uint32_t scansBefore = form_.scans();
  shell_.Run(Running::Scan, handler);
  if (form_.scans() != scansBefore) ShowRights();
}

// Nothing found because a disk was refused for want of rights: the window says so instead of
// "nothing found", and offers the restart where it can.
void MainWindow::ShowRights() {
  rightsMissing_ = !form_.busy() && form_.RightsExplain();
  if (!rightsMissing_) return;
  const bool offer = static_cast<bool>(services_.restartAsAdministrator);
  view_.SetStatusText(offer ? rights::kRestartOffer : rights::kMissing);
  view_.SetEnabled(Control::lblStaust, offer);
}

}  // namespace korvane::qt
