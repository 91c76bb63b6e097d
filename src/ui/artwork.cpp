#include "ui/artwork.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QtMath>
#include <functional>

namespace dravion::ui {
namespace {

const QColor kSignYellow(255, 204, 0);
const QColor kInk(24, 24, 24);

// The three blades and the hub of a radiation sign of radius r around the origin.
QPainterPath Trefoil(double r) {
  QPainterPath path;
  const double inner = r * 0.28;
  const QRectF outerBox(-r, -r, 2 * r, 2 * r);
  const QRectF innerBox(-inner, -inner, 2 * inner, 2 * inner);
  for (int blade = 0; blade < 3; ++blade) {
    const double start = 90 - 30 + blade * 120;  // degrees, counter-clockwise from 3 o'clock
    QPainterPath piece;
    piece.arcMoveTo(outerBox, start);
    piece.arcTo(outerBox, start, 60);
    piece.arcTo(innerBox, start + 60, -60);
    piece.closeSubpath();
    path.addPath(piece);
  }
  path.addEllipse(QPointF(0, 0), r * 0.18, r * 0.18);
  return path;
}

void DrawSign(QPainter& p, QPointF centre, double radius, double angle) {
  p.save();
  p.translate(centre);
  p.setPen(QPen(kInk, radius * 0.08));
  p.setBrush(kSignYellow);
  p.drawEllipse(QPointF(0, 0), radius, radius);
  p.rotate(angle);
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  p.drawPath(Trefoil(radius * 0.82));
  p.restore();
}

QPixmap Icon16(const std::function<void(QPainter&)>& draw) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(2, 2);
  draw(p);
  return pixmap;
}

}  // namespace

QImage BusyFrame(int index) {
  QImage image(81, 81, QImage::Format_ARGB32);
  image.fill(Qt::white);
  {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    DrawSign(p, QPointF(40.5, 40.5), 36, 30.0 * (index & 3));
    // A short arc on the rim shows which way it turns, also for a viewer who sees no rotation.
    p.setPen(QPen(QColor(0, 90, 200), 4, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(6, 6, 69, 69), (90 - 90 * (index & 3)) * 16, -50 * 16);
  }
  // White is the transparent colour of the animation window.
  for (int y = 0; y < image.height(); ++y) {
    auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x)
      if ((line[x] & 0x00FFFFFF) == 0x00FFFFFF) line[x] = 0;
  }
  return image;
}

QPixmap AboutPicture(bool russian) {
  QPixmap pixmap(516, 363);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);

  QLinearGradient sky(0, 0, 0, 322);
  sky.setColorAt(0, QColor(16, 42, 84));
  sky.setColorAt(1, QColor(34, 92, 150));
  p.fillRect(QRect(0, 0, 516, 322), sky);
  p.fillRect(QRect(0, 322, 516, 41), QColor(236, 240, 244));
  p.setPen(QPen(QColor(255, 204, 0), 3));
  p.drawLine(0, 321, 516, 321);

  // The dosimeter: a handheld body with its display and two buttons.
  const QRectF body(330, 34, 150, 262);
  QLinearGradient shell(body.topLeft(), body.topRight());
  shell.setColorAt(0, QColor(58, 62, 70));
  shell.setColorAt(1, QColor(30, 32, 38));
  p.setPen(QPen(QColor(12, 12, 14), 2));
  p.setBrush(shell);
  p.drawRoundedRect(body, 26, 26);
  const QRectF screen(348, 62, 114, 92);
  p.setBrush(QColor(168, 206, 160));
  p.setPen(QPen(QColor(10, 10, 10), 3));
  p.drawRoundedRect(screen, 6, 6);
  p.setPen(QColor(20, 40, 20));
  QFont digits(QStringLiteral("DejaVu Sans Mono"));
  digits.setStyleHint(QFont::TypeWriter);
  digits.setPixelSize(30);
  digits.setBold(true);
  p.setFont(digits);
  p.drawText(screen.adjusted(0, 8, 0, -36), Qt::AlignCenter, QStringLiteral("0,12"));
  QFont small = digits;
  small.setPixelSize(15);
  p.setFont(small);
  p.drawText(screen.adjusted(0, 52, 0, -8), Qt::AlignCenter,
             russian ? QStringLiteral("мкЗв/ч") : QStringLiteral("uSv/h"));
  for (int i = 0; i < 2; ++i) {
    QRadialGradient knob(QPointF(380 + i * 50, 196), 18);
    knob.setColorAt(0, QColor(120, 126, 138));
    knob.setColorAt(1, QColor(60, 64, 72));
    p.setBrush(knob);
    p.setPen(QPen(QColor(10, 10, 12), 2));
    p.drawEllipse(QPointF(380 + i * 50, 196), 16, 16);
  }
  DrawSign(p, QPointF(405, 256), 22, 0);

  // The product name and what this program is.
  DrawSign(p, QPointF(70, 80), 40, 0);
  QFont title(QStringLiteral("DejaVu Sans"));
  title.setPixelSize(46);
  title.setBold(true);
  p.setFont(title);
  p.setPen(Qt::white);
  p.drawText(QRectF(124, 42, 200, 70), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Dravion"));
  QFont subtitle(QStringLiteral("DejaVu Sans"));
  subtitle.setPixelSize(21);
  p.setFont(subtitle);
  p.setPen(QColor(255, 214, 64));
  p.drawText(QRectF(28, 140, 300, 60), Qt::AlignLeft | Qt::TextWordWrap,
             russian ? QStringLiteral("Менеджер устройств") : QStringLiteral("Device Manager"));
  QFont body_text(QStringLiteral("DejaVu Sans"));
  body_text.setPixelSize(14);
  p.setFont(body_text);
  p.setPen(QColor(220, 230, 244));
  p.drawText(QRectF(28, 190, 290, 110), Qt::AlignLeft | Qt::TextWordWrap,
             russian ? QStringLiteral("Измерение, история, настройки\nи обновление прошивки "
                                      "дозиметра Dravion")
                     : QStringLiteral("Measurement, history, settings\nand firmware update "
                                      "of the Dravion dosimeter"));
  p.setFont(subtitle);
  p.setPen(Qt::white);
  p.drawText(QRectF(28, 272, 290, 30), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Tarvo"));
  return pixmap;
}

QIcon ActionImage(int index) {
  QPixmap pixmap;
  switch (index) {
    case 0:  // exit: an open door with an arrow leaving
      pixmap = Icon16([](QPainter& p) {
        p.setPen(QPen(QColor(90, 60, 30), 1.2));
        p.setBrush(QColor(196, 150, 96));
        p.drawRect(QRectF(2.5, 1.5, 7, 13));
        p.setPen(QPen(QColor(200, 30, 30), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.drawLine(QPointF(7, 8), QPointF(14, 8));
        p.drawPolyline(QPolygonF({QPointF(11.5, 5), QPointF(14.5, 8), QPointF(11.5, 11)}));
      });
      break;
    case 2:  // show log: a page with lines
    case 3:  // hide log: the same page, crossed out
      pixmap = Icon16([index](QPainter& p) {
        p.setPen(QPen(QColor(70, 80, 100), 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(3.5, 1.5, 9, 13));
        for (int i = 0; i < 4; ++i)
          p.drawLine(QPointF(5.5, 4.5 + 2.5 * i), QPointF(10.5, 4.5 + 2.5 * i));
        if (index == 3) {
          p.setPen(QPen(QColor(200, 30, 30), 2, Qt::SolidLine, Qt::RoundCap));
          p.drawLine(QPointF(2, 14), QPointF(14, 2));
        }
      });
      break;
    case 4:  // clear log: an eraser
      pixmap = Icon16([](QPainter& p) {
        p.setPen(QPen(QColor(80, 40, 40), 1));
        p.setBrush(QColor(232, 120, 140));
        p.drawPolygon(QPolygonF({QPointF(2, 10), QPointF(9, 3), QPointF(14, 8), QPointF(7, 15)}));
        p.setBrush(QColor(90, 140, 220));
        p.drawPolygon(QPolygonF({QPointF(2, 10), QPointF(5, 7), QPointF(10, 12), QPointF(7, 15)}));
      });
      break;
    case 6:  // data from the Internet: a globe
      pixmap = Icon16([](QPainter& p) {
        p.setPen(QPen(QColor(20, 80, 160), 1.1));
        p.setBrush(QColor(150, 200, 250));
        p.drawEllipse(QPointF(8, 8), 6.5, 6.5);
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(8, 8), 3, 6.5);
        p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
      });
      break;
    case 8:  // local data: a disk
      pixmap = Icon16([](QPainter& p) {
        p.setPen(QPen(QColor(30, 30, 60), 1));
        p.setBrush(QColor(60, 70, 140));
        p.drawRect(QRectF(2.5, 2.5, 11, 11));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 2.5, 7, 4));
        p.setBrush(QColor(200, 200, 210));
        p.drawRect(QRectF(5, 9.5, 6, 4));
      });
      break;
    case 10:  // Russian: white, blue and red bands
      pixmap = Icon16([](QPainter& p) {
        p.setPen(Qt::NoPen);
        p.fillRect(QRectF(1, 3, 14, 3.4), Qt::white);
        p.fillRect(QRectF(1, 6.4, 14, 3.3), QColor(0, 57, 166));
        p.fillRect(QRectF(1, 9.7, 14, 3.3), QColor(213, 43, 30));
        p.setPen(QPen(QColor(120, 120, 120), 0.6));
        p.setBrush(Qt::NoBrush);
        p.drawRect(QRectF(1, 3, 14, 10));
      });
      break;
    case 11:  // English: a blue field with a red cross on white
      pixmap = Icon16([](QPainter& p) {
        p.fillRect(QRectF(1, 3, 14, 10), QColor(1, 33, 105));
        p.setPen(QPen(Qt::white, 2.6));
        p.drawLine(QPointF(1, 3), QPointF(15, 13));
        p.drawLine(QPointF(15, 3), QPointF(1, 13));
        p.setPen(QPen(QColor(200, 16, 46), 1));
        p.drawLine(QPointF(1, 3), QPointF(15, 13));
        p.drawLine(QPointF(15, 3), QPointF(1, 13));
        p.fillRect(QRectF(6.2, 3, 3.6, 10), Qt::white);
        p.fillRect(QRectF(1, 6.2, 14, 3.6), Qt::white);
        p.fillRect(QRectF(7, 3, 2, 10), QColor(200, 16, 46));
        p.fillRect(QRectF(1, 7, 14, 2), QColor(200, 16, 46));
      });
      break;
    default:
      return QIcon();
  }
  return QIcon(pixmap);
}

QImage AppIconImage(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  DrawSign(p, QPointF(size / 2.0, size / 2.0), size * 29.0 / 64, 0);
  return image;
}

QIcon AppIcon() {
  return QIcon(QPixmap::fromImage(AppIconImage(64)));
}

}  // namespace dravion::ui
