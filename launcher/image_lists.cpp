// Icons of the launcher's image lists, drawn at each size so they stay crisp.
#include "image_lists.h"

#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kSizes[] = {16, 32};

// A small receipt printer with a sheet coming out of it.
void drawAppIcon(QPainter& p, int s) {
  const double u = s / 16.0;
  p.setPen(QPen(QColor(40, 40, 40), u));
  p.setBrush(Qt::white);
  p.drawRect(QRectF(5 * u, 1 * u, 6 * u, 7 * u));
  p.setBrush(QColor(90, 110, 140));
  p.drawRoundedRect(QRectF(1.5 * u, 7 * u, 13 * u, 7 * u), 1.5 * u, 1.5 * u);
  p.setBrush(QColor(120, 220, 120));
  p.drawRect(QRectF(11 * u, 9 * u, 1.5 * u, 1.5 * u));
}

// England: a red cross on white.
void drawEnglish(QPainter& p, int s) {
  const QRectF flag(0, s * 0.2, s, s * 0.6);
  p.fillRect(flag, Qt::white);
  const double bar = s * 0.14;
  p.fillRect(QRectF(s / 2.0 - bar / 2, flag.top(), bar, flag.height()), QColor(200, 16, 46));
  p.fillRect(QRectF(0, s / 2.0 - bar / 2, s, bar), QColor(200, 16, 46));
  p.setPen(QColor(120, 120, 120));
  p.setBrush(Qt::NoBrush);
  p.drawRect(flag.adjusted(0, 0, -1, -1));
}

// Italy: green, white and red.
void drawItaliano(QPainter& p, int s) {
  const QRectF flag(0, s * 0.2, s, s * 0.6);
  const double third = s / 3.0;
  p.fillRect(QRectF(0, flag.top(), third, flag.height()), QColor(0, 146, 70));
  p.fillRect(QRectF(third, flag.top(), third, flag.height()), Qt::white);
  p.fillRect(QRectF(2 * third, flag.top(), s - 2 * third, flag.height()), QColor(206, 43, 55));
  p.setPen(QColor(120, 120, 120));
  p.setBrush(Qt::NoBrush);
  p.drawRect(flag.adjusted(0, 0, -1, -1));
}

}  // namespace

QIcon imageListIcon(const QString& key) {
  void (*draw)(QPainter&, int) = nullptr;
  if (key == QLatin1String("AppIcon")) {
    draw = drawAppIcon;
  } else if (key == QLatin1String("English")) {
    draw = drawEnglish;
  } else if (key == QLatin1String("Italiano")) {
    draw = drawItaliano;
  } else {
    return {};
  }
  QIcon icon;
  for (int size : kSizes) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    draw(painter, size);
    painter.end();
    icon.addPixmap(pixmap);
  }
  return icon;
}
