// Draws the skin bitmaps into a folder: the capsule buttons with their blue
// hover twins, the title strip, the chrome knobs and the transport images.
// Run by the build; the bitmaps are compiled into the program's resources.
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

QString outDir;
int scale = 1;  // device pixels to a pixel of the layout: the 2x set is NAME@2x.bmp

// An image of w by h pixels of the layout, drawn at the scale in force.
QImage canvas(int w, int h, QImage::Format format = QImage::Format_RGB32) {
  QImage img(w * scale, h * scale, format);
  img.setDevicePixelRatio(scale);
  return img;
}

void save(const QImage &image, const QString &name) {
  const QString file = outDir + "/" + name + (scale == 1 ? QString() : QStringLiteral("@%1x").arg(scale)) + ".bmp";
  // 24-bit BMP: the RGB888 format is written without an alpha channel.
  if (!image.convertToFormat(QImage::Format_RGB888).save(file, "BMP")) {
    std::fprintf(stderr, "skingen: cannot write %s\n", qPrintable(name));
    std::exit(1);
  }
}

QImage capsule(int w, int h, const QString &caption, bool hover) {
  QImage img = canvas(w, h);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QRectF r(1.5, 2.5, w - 3, h - 5);
  QLinearGradient g(r.topLeft(), r.bottomLeft());
  if (hover) {
    g.setColorAt(0, QColor(214, 233, 255));
    g.setColorAt(0.5, QColor(120, 175, 240));
    g.setColorAt(1, QColor(60, 120, 210));
    p.setPen(QPen(QColor(30, 80, 170), 1));
  } else {
    g.setColorAt(0, QColor(255, 255, 255));
    g.setColorAt(0.5, QColor(236, 236, 236));
    g.setColorAt(1, QColor(200, 200, 200));
    p.setPen(QPen(QColor(140, 140, 140), 1));
  }
  p.setBrush(g);
  p.drawRoundedRect(r, r.height() / 2, r.height() / 2);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(11);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::black);
  p.drawText(QRectF(0, 0, w, h), Qt::AlignCenter, caption);
  return img;
}

QImage knob(const QColor &colour, char sign) {
  QImage img = canvas(15, 23);
  img.fill(QColor(236, 240, 248));
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QRadialGradient g(QPointF(6, 9), 8);
  g.setColorAt(0, colour.lighter(160));
  g.setColorAt(1, colour.darker(120));
  p.setBrush(g);
  p.setPen(QPen(colour.darker(170), 1));
  p.drawEllipse(QRectF(1.5, 5.5, 12, 12));
  p.setPen(QPen(Qt::white, 1.6));
  p.setBrush(Qt::white);
  if (sign == '-') p.drawLine(QPointF(4.5, 11.5), QPointF(10.5, 11.5));
  if (sign == 'x') {
    p.drawLine(QPointF(5, 9), QPointF(10, 14));
    p.drawLine(QPointF(10, 9), QPointF(5, 14));
  }
  if (sign == '^') {
    QPolygonF t;
    t << QPointF(7.5, 8.5) << QPointF(11, 14) << QPointF(4, 14);
    p.setPen(Qt::NoPen);
    p.drawPolygon(t);
  }
  return img;
}

QImage titleStrip() {
  QImage img = canvas(538, 22);
  // The painter counts in pixels of the layout; img.rect() is in the
  // image's own pixels, twice as wide at 2x.
  const QRect area(0, 0, 538, 22);
  QPainter p(&img);
  QLinearGradient g(0, 0, 0, 22);
  g.setColorAt(0, QColor(248, 250, 255));
  g.setColorAt(1, QColor(214, 224, 240));
  p.fillRect(area, g);
  p.setPen(QColor(170, 182, 205));
  p.drawLine(0, 21, 537, 21);
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(12);
  f.setBold(true);
  p.setFont(f);
  p.setPen(QColor(40, 50, 80));
  p.drawText(area, Qt::AlignCenter, QStringLiteral("Tranchette"));
  return img;
}

QImage sidePicture() {
  QImage img = canvas(129, 241);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 241);
  g.setColorAt(0, QColor(70, 110, 190));
  g.setColorAt(1, QColor(20, 40, 90));
  p.fillRect(img.rect(), g);
  // A waveform cut by scissor marks.
  p.setPen(QPen(QColor(200, 225, 255), 1.2));
  QPainterPath wave;
  wave.moveTo(8, 120);
  for (int x = 8; x <= 121; ++x) {
    const double y = 120 + 38 * std::sin(x / 5.0) * std::sin(x / 23.0);
    wave.lineTo(x, y);
  }
  p.drawPath(wave);
  p.setPen(QPen(QColor(255, 210, 83), 1.5, Qt::DashLine));
  for (int x : {44, 86}) p.drawLine(x, 60, x, 180);
  QFont f(QStringLiteral("DejaVu Serif"));
  f.setPixelSize(18);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::white);
  p.drawText(QRect(0, 196, 129, 30), Qt::AlignCenter, QStringLiteral("Tranchette"));
  return img;
}

QImage transport(int w, int h, const QString &shape) {
  QImage img = canvas(w, h);
  img.fill(Qt::white);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(40, 60, 110));
  auto tri = [&](double x0, double x1) {  // pointing right when x0 < x1
    QPolygonF t;
    t << QPointF(x0, 0) << QPointF(x1, h / 2.0) << QPointF(x0, h);
    p.drawPolygon(t);
  };
  if (shape == "PLAY") tri(0, w);
  if (shape == "PAUSE") {
    p.drawRect(QRectF(0, 0, 2, h));
    p.drawRect(QRectF(w - 2, 0, 2, h));
  }
  if (shape == "FASTF") {
    tri(0, w / 2.0);
    tri(w / 2.0, w);
  }
  if (shape == "FASTR") {
    tri(w / 2.0, 0);
    tri(w, w / 2.0);
  }
  if (shape == "FASTB") {
    p.drawRect(QRectF(0, 0, 2, h));
    tri(8, 2);
    tri(14, 8);
  }
  if (shape == "FASTE") {
    tri(0, 6);
    tri(6, 12);
    p.drawRect(QRectF(12, 0, 2, h));
  }
  return img;
}

// The word Mp3 in a yellow speech bubble, drawn into a 40 by 39 area.
void drawBubble(QPainter &p) {
  p.setRenderHint(QPainter::Antialiasing);
  p.setRenderHint(QPainter::TextAntialiasing);
  QPainterPath path;
  path.addRoundedRect(QRectF(1.5, 1.5, 37, 27), 10, 10);
  QPolygonF tail;
  tail << QPointF(10, 27) << QPointF(8, 37) << QPointF(20, 27);
  QPainterPath tailPath;
  tailPath.addPolygon(tail);
  tailPath.closeSubpath();
  p.setBrush(QColor(255, 214, 40));
  p.setPen(QPen(QColor(150, 110, 0), 1));
  p.drawPath(path.united(tailPath));  // one outline, without a seam where the tail joins
  QFont f(QStringLiteral("DejaVu Sans"));
  f.setPixelSize(13);
  f.setBold(true);
  p.setFont(f);
  p.setPen(Qt::black);
  p.drawText(QRectF(1, 1, 38, 28), Qt::AlignCenter, QStringLiteral("Mp3"));
}

QImage bubble() {
  QImage img = canvas(40, 39);
  img.fill(Qt::white);
  QPainter p(&img);
  drawBubble(p);
  return img;
}

// The program's icon at size x size pixels: the bubble on a clear ground.
QImage icon(int size) {
  QImage img(size, size, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.translate(0, size / 80.0);
  p.scale(size / 40.0, size / 40.0);
  drawBubble(p);
  return img;
}

// Every skin bitmap, at the scale in force.
void drawSkin() {
  struct Button {
    const char *name;
    int width;
    const char *caption;
  };
  const Button buttons[] = {{"NEXT", 65, "Next"},      {"BACK", 65, "Back"}, {"OPEN", 65, "Open"},
                            {"BROWSER", 65, "Change"}, {"OK", 65, "OK"},     {"CANCEL", 65, "Cancel"},
                            {"RESET", 65, "Reset"},    {"HELP", 57, "Help"}, {"EXIT", 57, "Exit"}};
  for (const Button &b : buttons) {
    save(capsule(b.width, 25, QString::fromLatin1(b.caption), false), QString::fromLatin1(b.name));
    save(capsule(b.width, 25, QString::fromLatin1(b.caption), true), QString::fromLatin1(b.name) + "1");
  }
  save(titleStrip(), "TITLE");
  save(sidePicture(), "SIDE");
  save(knob(QColor(140, 70, 190), '^'), "KNOBABOUT");
  save(knob(QColor(235, 190, 20), '-'), "KNOBMIN");
  save(knob(QColor(215, 40, 40), 'x'), "KNOBCLOSE");
  save(transport(5, 9, "PLAY"), "PLAY");
  save(transport(6, 9, "PAUSE"), "PAUSE");
  save(transport(14, 9, "FASTB"), "FASTB");
  save(transport(10, 9, "FASTR"), "FASTR");
  save(transport(10, 9, "FASTF"), "FASTF");
  save(transport(14, 9, "FASTE"), "FASTE");
  save(bubble(), "MP3");
}

}  // namespace

int main(int argc, char **argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: skingen DIR\n");
    return 2;
  }
  outDir = QString::fromLocal8Bit(argv[1]);
  QDir().mkpath(outDir);

  for (scale = 1; scale <= 2; ++scale) drawSkin();
  // The program's icon in the sizes desktops look for.
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
    if (!icon(size).save(outDir + QStringLiteral("/tranchette-%1.png").arg(size), "PNG")) {
      std::fprintf(stderr, "skingen: cannot write the %d px icon\n", size);
      return 1;
    }
  return 0;
}

