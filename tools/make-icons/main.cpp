// tovik16-make-icons: draws every icon of the viewer with QPainter and writes the files that the
// forms compile in (Resources/resources.qrc), that the windows load at run time, and the
// application icon of the desktop menu in the hicolor theme's sizes (packaging/icons/).
//
// The generated files are committed; a build never runs this tool. To regenerate after changing
// a drawing, from the repository root:
//   cmake --build <build> --target tovik16-make-icons
//   <build>/tools/make-icons/tovik16-make-icons --write .
// Other modes:
//   --check ROOT   exit status 1 when a committed file is missing or differs from its drawing
//   --sheet FILE   a contact sheet (every icon at 64, 32 and 16 pixels on light and dark grounds)
//
// Every drawing works on a 64 x 64 design grid and is scaled to the output size. One ink colour
// for outlines, one blue accent, green for "good" and red for "stop/record". Texts inside icons
// use the small stroke font below, so the output does not depend on the installed fonts.

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QTransform>
#include <QtMath>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace {

const QColor kInk(0x37, 0x47, 0x4F);
const QColor kInkLight(0xB0, 0xBE, 0xC5);
const QColor kBlue(0x1E, 0x88, 0xE5);
const QColor kBlueLight(0x90, 0xCA, 0xF9);
const QColor kGreen(0x43, 0xA0, 0x47);
const QColor kRed(0xE5, 0x39, 0x35);
const QColor kAmber(0xFF, 0xB3, 0x00);
const QColor kAmberLight(0xFF, 0xD5, 0x4F);
const QColor kCyan(0x4F, 0xC3, 0xF7);
// Background of the JPEG (it has no alpha): the window colour of the application palette.
const QColor kWindowGrey(230, 230, 230);

using Drawing = std::function<void(QPainter&)>;

QPen roundPen(const QColor& color, qreal width) {
  return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// Fills a polygon and strokes it in the same colour, which rounds its corners by width / 2.
void fillRounded(QPainter& p, const QPolygonF& poly, const QColor& color, qreal width = 4.0) {
  p.setPen(roundPen(color, width));
  p.setBrush(color);
  p.drawPolygon(poly);
}

QPolygonF mirrored(const QPolygonF& poly) {
  QPolygonF out;
  for (const QPointF& pt : poly) out << QPointF(64.0 - pt.x(), pt.y());
  return out;
}

// ---------------------------------------------------------------------------------------------
// Stroke font: glyphs 10 units high (y down), drawn with a round pen.

struct Glyph {
  QPainterPath path;
  qreal width = 0;
  bool dot = false;  // '.' is a filled dot rather than a stroke
};

Glyph glyphFor(QChar c) {
  Glyph g;
  QPainterPath& path = g.path;
  switch (c.toLatin1()) {
    case '0':
      g.width = 6;
      path.addEllipse(QRectF(0, 0, 6, 10));
      break;
    case '1':
      g.width = 3.5;
      path.moveTo(0.4, 2.4);
      path.lineTo(3, 0);
      path.lineTo(3, 10);
      break;
    case '2': {
      g.width = 6;
      const QRectF bowl(0, 0, 6, 6.4);
      path.arcMoveTo(bowl, 165);
      path.arcTo(bowl, 165, -200);
      path.lineTo(0, 10);
      path.lineTo(6, 10);
      break;
    }
    case '3': {
      g.width = 6;
      const QRectF top(0.3, 0, 5.4, 5);
      const QRectF bottom(0, 5, 6, 5);
      path.arcMoveTo(top, 155);
      path.arcTo(top, 155, -245);
      path.arcTo(bottom, 90, -250);
      break;
    }
    case '5': {
      g.width = 6;
      const QRectF bowl(0, 3.6, 6, 6.4);
      path.moveTo(5.6, 0);
      path.lineTo(0.8, 0);
      path.lineTo(0.5, 4.7);
      path.arcTo(bowl, 145, -285);
      break;
    }
    case 'x':
      g.width = 5;
      path.moveTo(0, 3.5);
      path.lineTo(5, 10);
      path.moveTo(5, 3.5);
      path.lineTo(0, 10);
      break;
    case '.':
      g.width = 1.2;
      g.dot = true;
      break;
    case 'C': {
      g.width = 6;
      const QRectF ring(0, 0, 6.4, 10);
      path.arcMoveTo(ring, 50);
      path.arcTo(ring, 50, 260);
      break;
    }
    case 'S': {
      g.width = 6;
      const QRectF top(0.3, 0, 5.4, 5);
      const QRectF bottom(0, 5, 6, 5);
      path.arcMoveTo(top, 25);
      path.arcTo(top, 25, 245);
      path.arcTo(bottom, 90, -250);
      break;
    }
    case 'V':
      g.width = 6.4;
      path.moveTo(0, 0);
      path.lineTo(3.2, 10);
      path.lineTo(6.4, 0);
      break;
    default:
      g.width = 4;  // unknown characters leave a blank
      break;
  }
  return g;
}

constexpr qreal kGlyphSpacing = 2.2;

void drawStrokeText(QPainter& p, const QString& text, const QPointF& center, qreal height,
                    const QColor& color, qreal penWidth) {
  const qreal s = height / 10.0;
  std::vector<Glyph> glyphs;
  qreal total = 0;
  for (QChar c : text) {
    glyphs.push_back(glyphFor(c));
    total += glyphs.back().width;
  }
  if (glyphs.empty()) return;
  total += kGlyphSpacing * (glyphs.size() - 1);
  qreal x = center.x() - total * s / 2.0;
  const qreal y = center.y() - height / 2.0;
  p.save();
  for (const Glyph& g : glyphs) {
    if (g.dot) {
      p.setPen(Qt::NoPen);
      p.setBrush(color);
      const qreal r = penWidth * 0.62;
      p.drawEllipse(QPointF(x + g.width * s / 2.0, y + height - r * 0.9), r, r);
    } else {
      QTransform t;
      t.translate(x, y);
      t.scale(s, s);
      p.setPen(roundPen(color, penWidth));
      p.setBrush(Qt::NoBrush);
      p.drawPath(t.map(g.path));
    }
    x += (g.width + kGlyphSpacing) * s;
  }
  p.restore();
}

// ---------------------------------------------------------------------------------------------
// The drawings.

QPainterPath capsule(QPointF center, qreal length, qreal thickness, qreal angleDeg) {
  QPainterPath path;
  path.addRoundedRect(QRectF(-length / 2, -thickness / 2, length, thickness), thickness / 2,
                      thickness / 2);
  QTransform t;
  t.translate(center.x(), center.y());
  t.rotate(angleDeg);
  return t.map(path);
}

void drawLink(QPainter& p) {
  p.setPen(roundPen(kGreen, 6));
  p.setBrush(Qt::NoBrush);
  p.drawPath(capsule(QPointF(22.5, 41.5), 34, 17, -45));
  p.drawPath(capsule(QPointF(41.5, 22.5), 34, 17, -45));
}

void drawLinkBroken(QPainter& p) {
  p.setPen(roundPen(kRed, 6));
  p.setBrush(Qt::NoBrush);
  p.drawPath(capsule(QPointF(18.5, 45.5), 29, 17, -45));
  p.drawPath(capsule(QPointF(45.5, 18.5), 29, 17, -45));
  // The gap between the halves.
  p.setPen(roundPen(kInk, 3.5));
  p.drawLine(QPointF(36.5, 36.5), QPointF(41, 41));
  p.drawLine(QPointF(27.5, 27.5), QPointF(23, 23));
  p.drawLine(QPointF(38.5, 30), QPointF(44.5, 30));
  p.drawLine(QPointF(25.5, 34), QPointF(19.5, 34));
}

void drawPauseDisplay(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawEllipse(QPointF(32, 32), 27, 27);
  p.setBrush(Qt::white);
  p.drawRoundedRect(QRectF(22, 19, 7, 26), 2, 2);
  p.drawRoundedRect(QRectF(35, 19, 7, 26), 2, 2);
}

void drawDataList(QPainter& p) {
  const QRectF card(7, 9, 50, 46);
  QPainterPath cardPath;
  cardPath.addRoundedRect(card, 5, 5);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPath(cardPath);
  p.save();
  p.setClipPath(cardPath);
  p.fillRect(QRectF(7, 9, 50, 12), kBlue);
  p.restore();
  p.setPen(roundPen(kInkLight, 2.5));
  p.drawLine(QPointF(9, 33), QPointF(55, 33));
  p.drawLine(QPointF(9, 44), QPointF(55, 44));
  p.drawLine(QPointF(24, 21), QPointF(24, 54));
  p.setPen(roundPen(kInk, 3));
  p.setBrush(Qt::NoBrush);
  p.drawPath(cardPath);
}

void drawGrid(QPainter& p) {
  p.setBrush(Qt::NoBrush);
  p.setPen(roundPen(kInkLight, 2.5));
  p.drawLine(QPointF(4, 32), QPointF(60, 32));
  p.drawLine(QPointF(32, 4), QPointF(32, 60));
  p.setPen(roundPen(kInk, 3));
  for (qreal r : {10.0, 19.0, 28.0}) p.drawEllipse(QPointF(32, 32), r, r);
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(32, 32), 4, 4);
}

void drawArrow(QPainter& p, QPointF from, QPointF to, const QColor& color) {
  const QPointF d = to - from;
  const qreal len = std::hypot(d.x(), d.y());
  const QPointF u = d / len;
  const QPointF n(-u.y(), u.x());
  const qreal head = 11;
  p.setPen(roundPen(color, 4.5));
  p.drawLine(from, to - u * (head - 2));
  fillRounded(p, QPolygonF() << to << to - u * head + n * 5.5 << to - u * head - n * 5.5, color, 2);
}

void drawCoordinate(QPainter& p) {
  const QPointF origin(24, 40);
  drawArrow(p, origin, QPointF(59, 40), kRed);
  drawArrow(p, origin, QPointF(5, 59), kGreen);
  drawArrow(p, origin, QPointF(24, 5), kBlue);
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  p.drawEllipse(origin, 4.5, 4.5);
}

void drawSelect(QPainter& p) {
  QPen dashed = roundPen(kBlue, 3.5);
  dashed.setCapStyle(Qt::FlatCap);
  dashed.setDashPattern({2.2, 1.6});
  QColor fill = kBlue;
  fill.setAlpha(45);
  p.setBrush(fill);
  p.setPen(dashed);
  p.drawRoundedRect(QRectF(6, 6, 42, 36), 3, 3);
  const QPolygonF cursor = QPolygonF() << QPointF(32, 26) << QPointF(32, 56) << QPointF(39, 49.5)
                                       << QPointF(44, 60) << QPointF(50, 57.5) << QPointF(45, 47)
                                       << QPointF(54.5, 47);
  p.setPen(roundPen(Qt::white, 5));
  p.setBrush(Qt::white);
  p.drawPolygon(cursor);
  fillRounded(p, cursor, kInk, 2);
}

void drawClear(QPainter& p) {
  p.setPen(roundPen(kInk, 3.5));
  p.drawLine(QPointF(10, 56), QPointF(54, 56));
  p.save();
  p.translate(34, 29);
  p.rotate(-45);
  const QRectF body(-22, -10.5, 44, 21);
  QPainterPath bodyPath;
  bodyPath.addRoundedRect(body, 4, 4);
  p.setPen(Qt::NoPen);
  p.setBrush(kInkLight);
  p.drawPath(bodyPath);
  p.save();
  p.setClipPath(bodyPath);
  p.fillRect(QRectF(-22, -10.5, 18, 21), kRed);
  p.restore();
  p.setPen(roundPen(kInk, 3.5));
  p.setBrush(Qt::NoBrush);
  p.drawPath(bodyPath);
  p.drawLine(QPointF(-4, -10.5), QPointF(-4, 10.5));
  p.restore();
}

// A cube in oblique projection with its front, top and left faces visible; `face` (0 front,
// 1 top, 2 left) is the highlighted one.
void drawCubeView(QPainter& p, int face) {
  const QPolygonF front = QPolygonF() << QPointF(24, 23) << QPointF(55, 23) << QPointF(55, 54)
                                      << QPointF(24, 54);
  const QPolygonF top = QPolygonF()
                        << QPointF(24, 23) << QPointF(55, 23) << QPointF(42, 10) << QPointF(11, 10);
  const QPolygonF left = QPolygonF() << QPointF(24, 23) << QPointF(11, 10) << QPointF(11, 41)
                                     << QPointF(24, 54);
  const QPolygonF faces[3] = {front, top, left};
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 3; ++i) {
    p.setBrush(i == face ? kBlue : QColor(0xEC, 0xEF, 0xF1));
    p.drawPolygon(faces[i]);
  }
  p.setPen(roundPen(kInk, 3.5));
  p.setBrush(Qt::NoBrush);
  for (const QPolygonF& f : faces) p.drawPolygon(f);
}

void drawOpenFolder(QPainter& p) {
  QPainterPath back;
  back.moveTo(6, 50);
  back.lineTo(6, 15);
  back.quadTo(6, 12, 9, 12);
  back.lineTo(23, 12);
  back.lineTo(28, 18);
  back.lineTo(47, 18);
  back.quadTo(50, 18, 50, 21);
  back.lineTo(50, 50);
  back.closeSubpath();
  p.setPen(roundPen(kAmber, 3));
  p.setBrush(kAmber);
  p.drawPath(back);
  p.setBrush(Qt::white);
  p.setPen(Qt::NoPen);
  p.drawRect(QRectF(12, 22, 34, 20));
  fillRounded(
      p, QPolygonF() << QPointF(15, 28) << QPointF(60, 28) << QPointF(51, 52) << QPointF(6, 52),
      kAmberLight, 3);
}

QPolygonF playTriangle() {
  return QPolygonF() << QPointF(21, 12) << QPointF(21, 52) << QPointF(54, 32);
}

void drawPlay(QPainter& p) { fillRounded(p, playTriangle(), kBlue); }

void drawPause(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawRoundedRect(QRectF(16, 12, 12, 40), 3, 3);
  p.drawRoundedRect(QRectF(36, 12, 12, 40), 3, 3);
}

// Two forward triangles between y0 and y1.
QPolygonF seekHalf(qreal x0, qreal x1, qreal y0, qreal y1) {
  return QPolygonF() << QPointF(x0, y0) << QPointF(x0, y1) << QPointF(x1, (y0 + y1) / 2);
}

void drawSeek(QPainter& p, bool forward, qreal y0, qreal y1) {
  const QPolygonF a = seekHalf(8, 32, y0, y1);
  const QPolygonF b = seekHalf(32, 56, y0, y1);
  fillRounded(p, forward ? a : mirrored(a), kBlue);
  fillRounded(p, forward ? b : mirrored(b), kBlue);
}

void drawSeekSpeed(QPainter& p, bool forward, const QString& label) {
  drawSeek(p, forward, 5, 35);
  drawStrokeText(p, label, QPointF(32, 51.5), 14, kInk, 3.0);
}

void drawStep(QPainter& p, bool forward) {
  const QPolygonF tri = QPolygonF() << QPointF(11, 13) << QPointF(11, 51) << QPointF(41, 32);
  fillRounded(p, forward ? tri : mirrored(tri), kBlue);
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawRoundedRect(forward ? QRectF(45, 12, 8, 40) : QRectF(11, 12, 8, 40), 2.5, 2.5);
}

void drawRecord(QPainter& p) {
  p.setPen(roundPen(kInk, 4));
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(QPointF(32, 32), 26, 26);
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawEllipse(QPointF(32, 32), 16, 16);
}

void drawGear(QPainter& p) {
  const int teeth = 8;
  const qreal rIn = 20.5, rOut = 28;
  auto at = [](qreal r, qreal deg) {
    return QPointF(32 + r * qCos(qDegreesToRadians(deg)), 32 + r * qSin(qDegreesToRadians(deg)));
  };
  QPolygonF outline;
  for (int i = 0; i < teeth; ++i) {
    const qreal a = i * 360.0 / teeth;
    outline << at(rIn, a - 12) << at(rOut, a - 7) << at(rOut, a + 7) << at(rIn, a + 12);
    for (qreal t = a + 15; t < a + 33; t += 3) outline << at(rIn, t);
  }
  QPainterPath gear;
  gear.addPolygon(outline);
  gear.closeSubpath();
  gear.addEllipse(QPointF(32, 32), 9, 9);
  gear.setFillRule(Qt::OddEvenFill);
  p.setPen(roundPen(kInk, 2.5));
  p.setBrush(kInk);
  p.drawPath(gear);
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(32, 32), 4.5, 4.5);
}

void drawSliders(QPainter& p) {
  const qreal ys[3] = {14, 32, 50};
  const qreal knobs[3] = {22, 43, 31};
  p.setPen(roundPen(kInk, 4));
  for (qreal y : ys) p.drawLine(QPointF(7, y), QPointF(57, y));
  for (int i = 0; i < 3; ++i) {
    p.setPen(roundPen(Qt::white, 2.5));
    p.setBrush(kBlue);
    p.drawEllipse(QPointF(knobs[i], ys[i]), 7.5, 7.5);
  }
}

void drawChannels(QPainter& p) {
  const int beams = 8;
  for (int i = 0; i < beams; ++i) {
    const qreal y = 6 + i * (52.0 / (beams - 1));
    p.setPen(roundPen(i % 2 ? kBlueLight : kBlue, 3.2));
    p.drawLine(QPointF(15, 32), QPointF(58, y));
  }
  p.setPen(Qt::NoPen);
  p.setBrush(kInk);
  p.drawRoundedRect(QRectF(4, 22, 13, 20), 3, 3);
}

void drawCsv(QPainter& p) {
  QPainterPath page;
  page.moveTo(14, 5);
  page.lineTo(41, 5);
  page.lineTo(54, 18);
  page.lineTo(54, 59);
  page.lineTo(14, 59);
  page.closeSubpath();
  p.setPen(roundPen(kInk, 3));
  p.setBrush(Qt::white);
  p.drawPath(page);
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF() << QPointF(41, 5) << QPointF(41, 18) << QPointF(54, 18));
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  p.drawRoundedRect(QRectF(5, 29, 46, 21), 3.5, 3.5);
  drawStrokeText(p, QStringLiteral("CSV"), QPointF(28, 39.5), 11, Qt::white, 3);
}

void drawAbout(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(32, 32), 27, 27);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(32, 18.5), 4, 4);
  p.drawRoundedRect(QRectF(28.5, 26, 7, 22), 2.5, 2.5);
}

void drawBook(QPainter& p) {
  const QPolygonF leftPage = QPolygonF() << QPointF(31, 15) << QPointF(7, 11) << QPointF(7, 50)
                                         << QPointF(31, 54);
  p.setPen(roundPen(kInk, 3.5));
  p.setBrush(Qt::white);
  p.drawPolygon(leftPage);
  p.setBrush(kBlue);
  p.drawPolygon(mirrored(leftPage));
  p.setPen(roundPen(kInkLight, 2.5));
  for (qreal y : {22.0, 30.0, 38.0}) p.drawLine(QPointF(12, y - 2.5), QPointF(26, y));
  p.setPen(roundPen(kBlueLight, 2.5));
  for (qreal y : {22.0, 30.0, 38.0}) p.drawLine(QPointF(52, y - 2.5), QPointF(38, y));
}

void drawDevelop(QPainter& p) {
  p.setPen(roundPen(kInk, 5.5));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF() << QPointF(20, 18) << QPointF(6, 32) << QPointF(20, 46));
  p.drawPolyline(QPolygonF() << QPointF(44, 18) << QPointF(58, 32) << QPointF(44, 46));
  p.setPen(roundPen(kBlue, 5.5));
  p.drawLine(QPointF(37, 11), QPointF(27, 53));
}

void drawSpeedBadge(QPainter& p, const QString& number) {
  p.setPen(Qt::NoPen);
  p.setBrush(kBlue);
  p.drawEllipse(QPointF(32, 32), 28, 28);
  drawStrokeText(p, number, QPointF(32, 32), 25, Qt::white, 4.5);
}

void drawYes(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kGreen);
  p.drawEllipse(QPointF(32, 32), 28, 28);
  p.setPen(roundPen(Qt::white, 6.5));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF() << QPointF(18, 33) << QPointF(28, 43) << QPointF(47, 22));
}

void drawNo(QPainter& p) {
  p.setPen(Qt::NoPen);
  p.setBrush(kRed);
  p.drawEllipse(QPointF(32, 32), 28, 28);
  p.setPen(roundPen(Qt::white, 6.5));
  p.drawLine(QPointF(21, 21), QPointF(43, 43));
  p.drawLine(QPointF(43, 21), QPointF(21, 43));
}

// The application icon: a lidar head on a dark tile, its scan plane drawn as a ring around it.
void drawAppIcon(QPainter& p) {
  QLinearGradient tile(0, 2, 0, 62);
  tile.setColorAt(0, QColor(0x45, 0x5A, 0x64));
  tile.setColorAt(1, QColor(0x26, 0x32, 0x38));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(2, 2, 60, 60), 13, 13);

  const QRectF orbit(6, 27, 52, 18);
  p.setBrush(Qt::NoBrush);
  p.setPen(roundPen(kCyan, 3));
  p.drawArc(orbit, 0, 180 * 16);  // behind the head

  const qreal left = 19, right = 45, topY = 18, bottomY = 41, ry = 4.5;
  QPainterPath body;
  body.moveTo(left, topY);
  body.lineTo(left, bottomY);
  body.arcTo(QRectF(left, bottomY - ry, right - left, 2 * ry), 180, 180);
  body.lineTo(right, topY);
  body.closeSubpath();
  QLinearGradient metal(left, 0, right, 0);
  metal.setColorAt(0, QColor(0xCF, 0xD8, 0xDC));
  metal.setColorAt(0.45, QColor(0xFA, 0xFB, 0xFC));
  metal.setColorAt(1, QColor(0x90, 0xA4, 0xAE));
  p.setPen(Qt::NoPen);
  p.setBrush(metal);
  p.drawPath(body);

  QPainterPath window;
  window.moveTo(left, 25);
  window.arcTo(QRectF(left, 25 - ry, right - left, 2 * ry), 180, 180);
  window.lineTo(right, 32);
  window.arcTo(QRectF(left, 32 - ry, right - left, 2 * ry), 0, -180);
  window.closeSubpath();
  p.setBrush(QColor(0x26, 0x32, 0x38));
  p.drawPath(window);
  // Glint on the window.
  p.setPen(roundPen(kCyan, 1.6));
  p.setBrush(Qt::NoBrush);
  p.drawArc(QRectF(left + 4, 28.5 - ry, right - left - 8, 2 * ry), 200 * 16, 50 * 16);

  p.setBrush(QColor(0xEC, 0xEF, 0xF1));
  p.setPen(roundPen(QColor(0x90, 0xA4, 0xAE), 1.2));
  p.drawEllipse(QRectF(left, topY - ry, right - left, 2 * ry));

  p.setBrush(Qt::NoBrush);
  p.setPen(roundPen(kCyan, 3));
  p.drawArc(orbit, 180 * 16, 150 * 16);  // in front of the head
  // Arrow head showing the sense of rotation, on the right-hand side of the ring.
  const qreal t = qDegreesToRadians(340.0);
  const QPointF tip(32 + 26 * qCos(t), 36 - 9 * qSin(t));
  QPointF dir(-26 * qSin(t), -9 * qCos(t));
  dir /= std::hypot(dir.x(), dir.y());
  const QPointF n(-dir.y(), dir.x());
  fillRounded(p, QPolygonF() << tip + dir * 5 << tip - dir * 4 + n * 5 << tip - dir * 4 - n * 5,
              kCyan, 1.5);
}

// ---------------------------------------------------------------------------------------------
// Output files.

enum class Format { Png, Jpeg, Ico };

constexpr int kPngSize = 64;

struct IconFile {
  QString path;  // relative to the repository root
  Drawing draw;
  Format format = Format::Png;
  int size = kPngSize;  // PNG and JPEG edge in pixels
};

constexpr int kJpegQuality = 95;
const int kIcoSizes[] = {16, 24, 32, 48, 64, 128, 256};

std::vector<IconFile> iconFiles() {
  const QString img = QStringLiteral("Resources/images/");
  std::vector<IconFile> files = {
      {img + "link_lidar.png", drawLink},
      {img + "link_lidar_broken.png", drawLinkBroken},
      {img + "Red.png", drawPauseDisplay},
      {img + "LidarDataList.jpg", drawDataList, Format::Jpeg},
      {img + "Grid.png", drawGrid},
      {img + "Coordinate.png", drawCoordinate},
      {img + "select.png", drawSelect},
      {img + "clear.png", drawClear},
      {img + "zhengshi.png", [](QPainter& p) { drawCubeView(p, 0); }},
      {img + "fushi.png", [](QPainter& p) { drawCubeView(p, 1); }},
      {img + "zuoshi.png", [](QPainter& p) { drawCubeView(p, 2); }},
      {img + "OpenCaptureFile.png", drawOpenFolder},
      {img + "Gotostart.png", [](QPainter& p) { drawStep(p, false); }},
      {img + "Seekbackward.png", [](QPainter& p) { drawSeek(p, false, 14, 50); }},
      {img + "Play.png", drawPlay},
      {img + "Pause.png", drawPause},
      {img + "Seekforward.png", [](QPainter& p) { drawSeek(p, true, 14, 50); }},
      {img + "Gotostop.png", [](QPainter& p) { drawStep(p, true); }},
      {img + "Record.png", drawRecord},
      {img + "InteractionSetUp.png", drawGear},
      {img + "AdvancedSetting.png", drawSliders},
      {img + "Chanel.png", drawChannels},
      {img + "Csv.png", drawCsv},
      {img + "About.png", drawAbout},
      {img + "User.png", drawBook},
      {img + "Develop.png", drawDevelop},
      {img + "corvane.ico", drawAppIcon, Format::Ico},
      {img + "YES.png", drawYes},
      {img + "NO.png", drawNo},
      {QStringLiteral("Resources/image/corvane.png"), drawAppIcon},
      {QStringLiteral("Resources/image/InteractionSetUp.png"), drawGear},
  };
  for (const char* speed : {"2x", "3x", "0.5x", "0.25x"}) {
    const QString label = QString::fromLatin1(speed);
    files.push_back({img + "Seekforward_" + label + ".png",
                     [label](QPainter& p) { drawSeekSpeed(p, true, label); }});
    files.push_back({img + "Seekbackward_" + label + ".png",
                     [label](QPainter& p) { drawSeekSpeed(p, false, label); }});
  }
  for (const char* hz : {"5", "10", "20"}) {
    const QString number = QString::fromLatin1(hz);
    files.push_back({img + number + ".png", [number](QPainter& p) { drawSpeedBadge(p, number); }});
  }
  // The application icon of the desktop menu, in the hicolor theme's usual sizes (installed).
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    files.push_back(
        {QStringLiteral("packaging/icons/hicolor/%1x%1/apps/org.tovik16.studio.png").arg(size),
         drawAppIcon, Format::Png, size});
  }
  return files;
}

QImage render(const Drawing& draw, int size, const QColor& background = Qt::transparent) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(background);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 64.0, size / 64.0);
  draw(p);
  p.end();
  return image.convertToFormat(QImage::Format_ARGB32);
}

std::vector<QImage> renderFile(const IconFile& f) {
  switch (f.format) {
    case Format::Png:
      return {render(f.draw, f.size)};
    case Format::Jpeg:
      return {render(f.draw, f.size, kWindowGrey).convertToFormat(QImage::Format_RGB32)};
    case Format::Ico: {
      std::vector<QImage> images;
      for (int s : kIcoSizes) images.push_back(render(f.draw, s));
      return images;
    }
  }
  return {};
}

QByteArray encode(const QImage& image, const char* format, int quality = -1) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, format, quality);
  return bytes;
}

// An ICO file whose entries are PNG streams (valid since Windows Vista; Qt's reader accepts it).
// Directory entries are little-endian; a width or height of 0 means 256.
QByteArray icoBytes(const std::vector<QImage>& images) {
  std::vector<QByteArray> pngs;
  for (const QImage& im : images) pngs.push_back(encode(im, "PNG"));
  QByteArray out;
  QDataStream s(&out, QIODevice::WriteOnly);
  s.setByteOrder(QDataStream::LittleEndian);
  s << quint16(0) << quint16(1) << quint16(images.size());
  quint32 offset = 6 + 16 * images.size();
  for (size_t i = 0; i < images.size(); ++i) {
    s << quint8(images[i].width() >= 256 ? 0 : images[i].width())
      << quint8(images[i].height() >= 256 ? 0 : images[i].height()) << quint8(0) << quint8(0)
      << quint16(1) << quint16(32) << quint32(pngs[i].size()) << offset;
    offset += pngs[i].size();
  }
  for (const QByteArray& png : pngs) s.writeRawData(png.constData(), png.size());
  return out;
}

// Reads back the entries of an ICO written by icoBytes; empty on any structural error.
std::vector<QImage> readIco(const QByteArray& bytes) {
  std::vector<QImage> images;
  QDataStream s(bytes);
  s.setByteOrder(QDataStream::LittleEndian);
  quint16 reserved = 0, type = 0, count = 0;
  s >> reserved >> type >> count;
  if (s.status() != QDataStream::Ok || reserved != 0 || type != 1) return {};
  for (int i = 0; i < count; ++i) {
    quint8 w, h, colors, zero;
    quint16 planes, bits;
    quint32 size, offset;
    s >> w >> h >> colors >> zero >> planes >> bits >> size >> offset;
    if (s.status() != QDataStream::Ok || qint64(offset) + size > bytes.size()) return {};
    images.push_back(QImage::fromData(bytes.mid(offset, size), "PNG"));
  }
  return images;
}

bool writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

int writeAll(const QString& root) {
  int failures = 0;
  for (const IconFile& f : iconFiles()) {
    const QString path = root + "/" + f.path;
    const std::vector<QImage> images = renderFile(f);
    bool ok = false;
    if (f.format == Format::Ico) {
      ok = writeFile(path, icoBytes(images));
    } else {
      QDir().mkpath(QFileInfo(path).absolutePath());
      ok = f.format == Format::Jpeg ? images[0].save(path, "JPEG", kJpegQuality)
                                    : images[0].save(path, "PNG");
    }
    if (!ok) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
      ++failures;
    }
  }
  return failures == 0 ? 0 : 1;
}

// Largest difference of any channel of any pixel, or 256 when the sizes differ.
int maxDifference(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 256;
  const QImage x = a.convertToFormat(QImage::Format_ARGB32);
  const QImage y = b.convertToFormat(QImage::Format_ARGB32);
  int worst = 0;
  for (int row = 0; row < x.height(); ++row) {
    const QRgb* px = reinterpret_cast<const QRgb*>(x.constScanLine(row));
    const QRgb* py = reinterpret_cast<const QRgb*>(y.constScanLine(row));
    for (int col = 0; col < x.width(); ++col) {
      worst = std::max({worst, std::abs(qRed(px[col]) - qRed(py[col])),
                        std::abs(qGreen(px[col]) - qGreen(py[col])),
                        std::abs(qBlue(px[col]) - qBlue(py[col])),
                        std::abs(qAlpha(px[col]) - qAlpha(py[col]))});
    }
  }
  return worst;
}

int checkAll(const QString& root) {
  // JPEG decoding and antialiasing may move a few levels between library builds.
  const int tolerance = 3;
  int failures = 0;
  const std::vector<IconFile> files = iconFiles();
  for (const IconFile& f : files) {
    const QString path = root + "/" + f.path;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
      std::fprintf(stderr, "missing: %s\n", qPrintable(f.path));
      ++failures;
      continue;
    }
    const QByteArray bytes = file.readAll();
    std::vector<QImage> onDisk;
    if (f.format == Format::Ico) {
      onDisk = readIco(bytes);
    } else {
      onDisk.push_back(QImage::fromData(bytes, f.format == Format::Jpeg ? "JPEG" : "PNG"));
    }
    std::vector<QImage> expected = renderFile(f);
    if (f.format == Format::Jpeg) {
      // Compare against the drawing after the same lossy round trip.
      expected[0] = QImage::fromData(encode(expected[0], "JPEG", kJpegQuality), "JPEG");
    }
    bool same = onDisk.size() == expected.size();
    for (size_t i = 0; same && i < expected.size(); ++i) {
      same = !onDisk[i].isNull() && maxDifference(onDisk[i], expected[i]) <= tolerance;
    }
    if (!same) {
      std::fprintf(stderr, "differs from its drawing: %s\n", qPrintable(f.path));
      ++failures;
    }
  }
  std::printf("%zu icon files checked, %d failing\n", files.size(), failures);
  return failures == 0 ? 0 : 1;
}

int writeSheet(const QString& out) {
  std::vector<IconFile> files = iconFiles();
  // The sheet draws every icon at its own sizes; the theme's copies of the application icon
  // would only repeat it.
  files.erase(std::remove_if(files.begin(), files.end(),
                             [](const IconFile& f) { return f.path.startsWith("packaging/"); }),
              files.end());
  const int columns = 6, cellW = 220, cellH = 120;
  const int rows = int(files.size() + columns - 1) / columns;
  QImage sheet(columns * cellW, rows * cellH, QImage::Format_ARGB32);
  sheet.fill(Qt::white);
  QPainter p(&sheet);
  p.setRenderHint(QPainter::Antialiasing);
  for (size_t i = 0; i < files.size(); ++i) {
    const int x = int(i % columns) * cellW, y = int(i / columns) * cellH;
    const Drawing& d = files[i].draw;
    p.fillRect(QRect(x + 4, y + 4, 76, 76), kWindowGrey);
    p.drawImage(x + 10, y + 10,
                render(d, 64, files[i].format == Format::Jpeg ? kWindowGrey : Qt::transparent));
    p.fillRect(QRect(x + 84, y + 4, 44, 76), QColor(105, 105, 105));
    p.drawImage(x + 90, y + 10, render(d, 32));
    p.drawImage(x + 98, y + 50, render(d, 16));
    p.fillRect(QRect(x + 132, y + 4, 44, 76), kWindowGrey);
    p.drawImage(x + 138, y + 10, render(d, 32));
    p.drawImage(x + 146, y + 50, render(d, 16));
    p.setPen(Qt::black);
    p.drawText(QRect(x + 4, y + 84, cellW - 8, 30), Qt::AlignLeft | Qt::AlignTop,
               QFileInfo(files[i].path).fileName());
  }
  p.end();
  return sheet.save(out) ? 0 : 1;
}

int usage() {
  std::fprintf(stderr,
               "usage: tovik16-make-icons --write ROOT | --check ROOT | --sheet FILE.png\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  // Icons are drawn into images only; no display is needed.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QStringList args = app.arguments();
  if (args.size() != 3) return usage();
  if (args[1] == QLatin1String("--write")) return writeAll(args[2]);
  if (args[1] == QLatin1String("--check")) return checkAll(args[2]);
  if (args[1] == QLatin1String("--sheet")) return writeSheet(args[2]);
  return usage();
}
