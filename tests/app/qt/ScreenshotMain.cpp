// korvane_qt_screenshots DIR: the Qt window on a real display (the test suite gives it a virtual
// one) over an outdated enclosure; it saves the offer as DIR/qt-offer.png, clicks it and saves
// the completed update as DIR/qt-update-complete.png. Each shot is taken from the display, and the
// verdict picture on it must be the program's own.
#include <QApplication>
#include <QDir>
#include <QScreen>
#include <QTest>

#include <iostream>
#include <string>

#include "app/qt/WindowRig.h"

namespace {

using korvane::Control;
using korvane::Picture;

/// The window as the display shows it.
QImage Shot(QWidget& window) {
  window.repaint();
  QCoreApplication::processEvents();
  return window.screen()
      ->grabWindow(window.winId())
      .toImage()
      .convertToFormat(QImage::Format_RGB32);
}

/// Whether the verdict picture's place on the shot holds the picture.
bool ShowsPicture(const QImage& shot, Picture picture) {
  const QImage expected = QImage(korvane::qt::PicturePath(korvane::PictureName(picture)))
                              .convertToFormat(QImage::Format_RGB32);
  const QRect place = korvane::testing::WindowRig::PlaceOf(Control::Image3);
  return !expected.isNull() && shot.copy(place) == expected.scaled(place.size());
}

bool SaveChecked(const QImage& shot, Picture picture, const QString& file) {
  if (!ShowsPicture(shot, picture)) {
    std::cerr << "the display does not show the " << korvane::PictureName(picture)
              << " picture in the window\n";
    return false;
  }
  if (!shot.save(file)) {
    std::cerr << "cannot write " << file.toStdString() << '\n';
    return false;
  }
  std::cout << "saved " << file.toStdString() << '\n';
  return true;
}

int TakeShots(const QDir& folder) {
  korvane::testing::WindowRig rig("jms583-outdated");
  rig.Show();
  if (!QTest::qWaitForWindowExposed(&rig.window)) {
    std::cerr << "the window was never shown on the display\n";
    return 1;
  }
  if (!SaveChecked(Shot(rig.window), Picture::Update, folder.filePath("qt-offer.png"))) return 1;
  QTest::mouseClick(rig.Status(), Qt::LeftButton);
  if (rig.StatusText() != korvane::status::kUpdateComplete) {
    std::cerr << "the update ended with \"" << rig.StatusText() << "\"\n";
    return 1;
  }
  return SaveChecked(Shot(rig.window), Picture::Good, folder.filePath("qt-update-complete.png"))
             ? 0
             : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  if (argc != 2) {
    std::cerr << "usage: korvane_qt_screenshots DIR\n";
    return 2;
  }
  const QDir folder(QString::fromLocal8Bit(argv[1]));
  if (!folder.mkpath(QStringLiteral("."))) {
    std::cerr << "cannot make " << argv[1] << '\n';
    return 1;
  }
  return TakeShots(folder);
}
