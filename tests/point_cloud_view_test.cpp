// The 3D view in a real window (run under a virtual X display): the two clouds and their
// colours, the grid, the axes, the point-size keys, the rubber-band area selection driven by the
// interactor's own events, and the info text.
#include "app/point_cloud_view.h"

#include <QVTKOpenGLNativeWidget.h>
#include <vtkCamera.h>
#include <vtkCommand.h>
#include <vtkRenderWindow.h>
#include <vtkRenderWindowInteractor.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QImage>
#include <QRegularExpression>
#include <QSet>
#include <QSignalSpy>
#include <QSurfaceFormat>
#include <QVBoxLayout>
#include <QtTest>
#include <array>
#include <cmath>
#include <string>
#include <vector>

using tovik::DrawnPoint;
using tovik::PointCloudView;

namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// A square of n x n points in the plane z = 0, side metres wide, centred on the origin.
std::vector<DrawnPoint> planeGrid(int n, float side, uint8_t r, uint8_t g, uint8_t b) {
  std::vector<DrawnPoint> points;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      points.push_back({side * (float(i) / float(n - 1) - 0.5f),
                        side * (float(j) / float(n - 1) - 0.5f), 0.0f, r, g, b});
  return points;
}

struct PixelCounts {
  int red = 0, green = 0, blue = 0, other = 0;
};

// Counts by colour, leaving out the orientation marker's corner (the bottom left fifth), whose
// axes are red, green and blue, and the colour legend's strip at the right edge.
PixelCounts countPixels(const QImage& image) {
  PixelCounts c;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width() * 9 / 10 - 4; ++x) {
      if (x < image.width() / 5 + 4 && y > image.height() * 4 / 5 - 4) continue;
      const QRgb p = image.pixel(x, y);
      const int r = qRed(p), g = qGreen(p), b = qBlue(p);
      if (r > 200 && g < 60 && b < 60)
        ++c.red;
      else if (g > 200 && r < 60 && b < 60)
        ++c.green;
      else if (b > 200 && r < 60 && g < 60)
        ++c.blue;
      else if (r + g + b > 60)
        ++c.other;
    }
  }
  return c;
}

}  // namespace

class PointCloudViewTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    window_ = new QWidget;
    auto* layout = new QVBoxLayout(window_);
    layout->setContentsMargins(0, 0, 0, 0);
    screen_ = new QVTKOpenGLNativeWidget(window_);
    layout->addWidget(screen_);
    window_->resize(kWidth, kHeight);
    view_ = new PointCloudView(screen_);
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_));
    view_->render();
  }

  void cleanup() {
    delete view_;
    delete window_;
  }

  void cloudsAreDrawnWithTheirColours() {
    // The clicked cloud is always blue whatever its points' own colours; the realTime cloud shows
    // each point's colour. 30,000 points in all.
    const std::vector<DrawnPoint> red = planeGrid(170, 0.4f, 255, 0, 0);
    std::vector<DrawnPoint> clicked = planeGrid(30, 0.1f, 0, 255, 0);
    for (DrawnPoint& p : clicked) p.z = 0.05f;  // in front of the red square seen from above
    QCOMPARE(int(red.size() + clicked.size()), 29800);
    view_->setClouds(red, clicked, 2);
    view_->setCameraPreset(1);  // "Top"
    QVERIFY(view_->hasCloud("realTime_points"));
    QVERIFY(view_->hasCloud("clicked_points"));

    QElapsedTimer timer;
    timer.start();
    view_->render();
    const qint64 ms = timer.elapsed();
    qInfo("render of 29,800 points at %dx%d: %lld ms", kWidth, kHeight, ms);

    const PixelCounts c = countPixels(screen_->grabFramebuffer());
    QVERIFY2(c.red > 1000, qPrintable(QString::number(c.red)));
    QVERIFY2(c.blue > 100, qPrintable(QString::number(c.blue)));
    QCOMPARE(c.green, 0);

    // New colours for the same positions reach the screen.
    std::vector<DrawnPoint> green = red;
    for (DrawnPoint& p : green) {
      p.r = 0;
      p.g = 255;
    }
    view_->setClouds(green, {}, 2);
    view_->render();
    const PixelCounts recoloured = countPixels(screen_->grabFramebuffer());
    QVERIFY2(recoloured.green > 1000, qPrintable(QString::number(recoloured.green)));
    QCOMPARE(recoloured.red, 0);
    QCOMPARE(recoloured.blue, 0);

    // Replacing the clouds replaces, never accumulates.
    view_->setClouds({}, {}, 1);
    view_->render();
    const PixelCounts empty = countPixels(screen_->grabFramebuffer());
    QVERIFY2(empty.red == 0 && empty.blue < 50, qPrintable(QString::number(empty.blue)));
  }

  void gridHas82LinesAnd720SegmentsWithDistinctIds() {
    view_->drawGrid();
    // An id used twice would have been refused, so the count proves the ids distinct.
    QCOMPARE(view_->shapeCount(), 82 + 720);
    for (const char* id : {"Line-200", "Line0", "Line200", "Line-159", "Line41", "Line241",
                           "Circle100", "Circle10350", "Circle2000", "Circle200350"})
      QVERIFY2(view_->hasShape(id), id);
    QVERIFY(!view_->hasShape("Line5"));
    QVERIFY(!view_->hasShape("Circle0"));
    view_->removeAllShapes();
    QCOMPARE(view_->shapeCount(), 0);
    view_->drawGrid();
    QCOMPARE(view_->shapeCount(), 802);
    view_->clearAll();
    QCOMPARE(view_->shapeCount(), 0);
  }

  void axesToggle() {
    QVERIFY(!view_->hasShape("coordinate"));
    QCOMPARE(view_->toggleAxes(false), true);
    QVERIFY(view_->hasShape("coordinate"));
    QCOMPARE(view_->toggleAxes(true), false);
    QVERIFY(!view_->hasShape("coordinate"));
  }

  void pointSizeKeysThroughTheInteractor() {
    std::vector<int> deltas;
    connect(view_, &PointCloudView::pointSizeKey, this, [&](int d) { deltas.push_back(d); });
    for (const auto& k : {std::make_pair('+', "plus"), std::make_pair('-', "minus"),
                          std::make_pair('a', "a"), std::make_pair('+', "plus")})
      key(k.first, k.second);
    QCOMPARE(deltas, (std::vector<int>{+1, -1, +1}));
  }

  void areaSelectionEmitsIndicesInsideTheRectangle() {
    const std::vector<DrawnPoint> plane = planeGrid(60, 0.4f, 255, 255, 255);
    // The previous selection: inside the rectangle too, but its indices must not be reported.
    const std::vector<DrawnPoint> clicked = planeGrid(5, 0.02f, 0, 0, 255);
    // A first revolution elsewhere, so that the plane replaces an existing cloud.
    view_->setClouds(planeGrid(10, 0.05f, 255, 255, 255), {}, 1);
    view_->setClouds(plane, clicked, 1);
    view_->setCameraPreset(1);  // "Top": x to the right, y up
    view_->render();

    vtkRenderer* renderer = screen_->renderWindow()->GetRenderers()->GetFirstRenderer();
    std::vector<std::array<double, 2>> display(plane.size());
    for (size_t i = 0; i < plane.size(); ++i) {
      renderer->SetWorldPoint(plane[i].x, plane[i].y, plane[i].z, 1.0);
      renderer->WorldToDisplay();
      const double* d = renderer->GetDisplayPoint();
      display[i] = {d[0], d[1]};
    }
    // A rectangle around the middle of the window, in display pixels (origin bottom left).
    const int x0 = kWidth / 2 - 60, x1 = kWidth / 2 + 90;
    const int y0 = kHeight / 2 - 50, y1 = kHeight / 2 + 70;

    std::vector<int> picked;
    int calls = 0;
    connect(view_, &PointCloudView::areaPicked, this, [&](std::vector<int> indices) {
      ++calls;
      picked = indices;
    });
    view_->toggleAreaSelectionMode();
    drag(x0, y0, x1, y1);
    view_->toggleAreaSelectionMode();
    QCOMPARE(calls, 1);

    // Every point well inside is picked, nothing well outside; a pixel of slack at the border.
    const QSet<int> pickedSet(picked.begin(), picked.end());
    QCOMPARE(pickedSet.size(), int(picked.size()));
    int inside = 0;
    for (size_t i = 0; i < plane.size(); ++i) {
      const double x = display[i][0], y = display[i][1];
      const bool wellInside = x > x0 + 1 && x < x1 - 1 && y > y0 + 1 && y < y1 - 1;
      const bool wellOutside = x < x0 - 1 || x > x1 + 1 || y < y0 - 1 || y > y1 + 1;
      if (wellInside) {
        ++inside;
        QVERIFY2(pickedSet.contains(int(i)), qPrintable(QString("missed %1").arg(i)));
      }
      if (wellOutside)
        QVERIFY2(!pickedSet.contains(int(i)), qPrintable(QString("extra %1").arg(i)));
    }
    QVERIFY2(inside > 100, qPrintable(QString::number(inside)));

    // The indices address the realTime cloud.
    const std::vector<DrawnPoint> points = view_->realTimePointsAt(picked);
    QCOMPARE(points.size(), picked.size());
    QCOMPARE(points.front().x, plane[size_t(picked.front())].x);
    QVERIFY(view_->realTimePointsAt({-1, int(plane.size())}).empty());

    // With the mode switched off the same drag turns the camera and selects nothing.
    drag(x0, y0, x1, y1);
    QCOMPARE(calls, 1);
  }

  void infoTextAzimuthRules_data() {
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<double>("azimuth");
    QTest::newRow("x<0 on the x axis") << -5.0 << 0.0 << 0.0;
    QTest::newRow("x>0 on the x axis") << 5.0 << 0.0 << 360.0;
    QTest::newRow("+y axis") << 0.0 << 5.0 << 270.0;
    QTest::newRow("-y axis") << 0.0 << -5.0 << 90.0;
    QTest::newRow("x>0 y<0") << 5.0 << -5.0 << 45.0;
    QTest::newRow("x<0 y<0") << -5.0 << -5.0 << 135.0;
    QTest::newRow("x<0 y>0") << -5.0 << 5.0 << 225.0;
    QTest::newRow("x>0 y>0") << 5.0 << 5.0 << 315.0;
    QTest::newRow("origin") << 0.0 << 0.0 << 360.0;
  }

  void infoTextAzimuthRules() {
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(double, azimuth);
    QVERIFY2(std::fabs(PointCloudView::pickedAzimuth(x, y) - azimuth) < 1e-5,
             qPrintable(QString::number(PointCloudView::pickedAzimuth(x, y), 'f', 6)));
  }

  void infoTextFormat() {
    QCOMPARE(PointCloudView::infoText(3, 4, 0),
             QStringLiteral("Distance:5.000000    Azimuth:306.869898"));
    QCOMPARE(PointCloudView::infoText(-5, 0, 0),
             QStringLiteral("Distance:5.000000    Azimuth:0.000000"));
  }

  void infoTextPicksThePointUnderTheMouse() {
    // A wall of large points 3 m ahead (y = 3) of the "Front" camera, which looks along
    // (0, 1.2, -0.2) and is fitted to the wall: the ray through the middle of the window meets
    // the wall at its centre (0, 3, 0).
    std::vector<DrawnPoint> wall;
    for (int i = 0; i < 200; ++i)
      for (int j = 0; j < 200; ++j)
        wall.push_back({-3.0f + 6.0f * i / 199.0f, 3.0f, -3.0f + 6.0f * j / 199.0f, 255, 255, 255});
    view_->setClouds(wall, {}, 8);
    view_->setCameraPreset(0);
    view_->render();
    screen_->interactor()->SetEventInformation(kWidth / 2, kHeight / 2);
    view_->refreshInfoText();
    QVERIFY(view_->hasShape("0"));
    const QString text = view_->lastInfoText();
    const QRegularExpression re("^Distance:(\\d+\\.\\d{6})    Azimuth:(\\d+\\.\\d{6})$");
    const QRegularExpressionMatch m = re.match(text);
    QVERIFY2(m.hasMatch(), qPrintable(text));
    QVERIFY2(std::fabs(m.captured(1).toDouble() - 3.0) < 0.05, qPrintable(text));
    QVERIFY2(std::fabs(m.captured(2).toDouble() - 270.0) < 2.0, qPrintable(text));

    // A second refresh replaces the text; removing all shapes removes it; it comes back.
    view_->refreshInfoText();
    QCOMPARE(view_->shapeCount(), 1);
    view_->removeAllShapes();
    QVERIFY(!view_->hasShape("0"));
    view_->refreshInfoText();
    QVERIFY(view_->hasShape("0"));
  }

  void areaSelectionStillWorksAfterInfoText() {
    const std::vector<DrawnPoint> plane = planeGrid(40, 0.4f, 255, 255, 255);
    view_->setClouds(plane, {}, 1);
    view_->setCameraPreset(1);
    view_->render();
    screen_->interactor()->SetEventInformation(kWidth / 2, kHeight / 2);
    view_->refreshInfoText();
    int count = -1;
    connect(view_, &PointCloudView::areaPicked, this,
            [&](std::vector<int> indices) { count = int(indices.size()); });
    view_->toggleAreaSelectionMode();
    drag(10, 10, kWidth - 10, kHeight - 10);
    view_->toggleAreaSelectionMode();
    QCOMPARE(count, int(plane.size()));
  }

  void areaSelectionAfterInfoTextInSelectionMode() {
    // #9: "x" first, then a revolution refreshes the info text, then the drag. The refresh used
    // to install its point picker while the view was selecting, and the area pick crashed.
    const std::vector<DrawnPoint> plane = planeGrid(40, 0.4f, 255, 255, 255);
    view_->setClouds(plane, {}, 1);
    view_->setCameraPreset(1);
    QSignalSpy modes(view_, &PointCloudView::areaSelectionModeChanged);
    int count = -1;
    connect(view_, &PointCloudView::areaPicked, this,
            [&](std::vector<int> indices) { count = int(indices.size()); });
    key('x', "x");
    QVERIFY(view_->areaSelectionMode());
    QCOMPARE(modes.count(), 1);
    QCOMPARE(modes.last().at(0).toBool(), true);
    view_->setAreaSelectionMode(true);  // already on: no second "x"
    QCOMPARE(modes.count(), 1);
    screen_->interactor()->SetEventInformation(kWidth / 2, kHeight / 2);
    view_->refreshInfoText();
    view_->setClouds(plane, {}, 1);
    view_->render();
    drag(10, 10, kWidth - 10, kHeight - 10);
    QCOMPARE(count, int(plane.size()));

    view_->setAreaSelectionMode(false);
    QVERIFY(!view_->areaSelectionMode());
    QCOMPARE(modes.count(), 2);
  }

  void legendTableGivesTheColoursOfTheColouring() {
    using tovik::pointColor;
    const auto same = [](tovik::Rgb a, tovik::Rgb b) {
      return a.r == b.r && a.g == b.g && a.b == b.b;
    };
    const auto text = [](double v, tovik::Rgb a, tovik::Rgb b) {
      return QString("at %1: legend %2,%3,%4, points %5,%6,%7")
          .arg(v)
          .arg(a.r)
          .arg(a.g)
          .arg(a.b)
          .arg(b.r)
          .arg(b.g)
          .arg(b.b);
    };
    QVERIFY(view_->colorLegendShown());  // the colouring a view starts with: intensity
    view_->setColorLegend(tovik::kColorIntensity);
    // Each rule's ends, and red's wrap between 79 and 80.
    for (int i : {0, 1, 31, 32, 63, 64, 79, 80, 127, 128, 200, 254, 255}) {
      const tovik::Rgb want = pointColor(tovik::kColorIntensity, i, 0, 0, 0);
      QVERIFY2(same(view_->legendColor(i), want), qPrintable(text(i, view_->legendColor(i), want)));
    }
    view_->setColorLegend(tovik::kColorElevation);
    for (float z : {-40.0f, -2.01f, -1.99f, -0.01f, 0.01f, 0.99f, 1.01f, 4.99f, 5.01f, 80.0f}) {
      const tovik::Rgb want = pointColor(tovik::kColorElevation, 0, z, 0, 0);
      QVERIFY2(same(view_->legendColor(z), want), qPrintable(text(z, view_->legendColor(z), want)));
    }
    view_->setColorLegend(tovik::kColorAzimuth);
    for (float a : {0.0f, 89.9f, 90.1f, 179.9f, 180.1f, 269.9f, 270.1f, 359.9f}) {
      const tovik::Rgb want = pointColor(tovik::kColorAzimuth, 0, 0, a, 0);
      QVERIFY2(same(view_->legendColor(a), want), qPrintable(text(a, view_->legendColor(a), want)));
    }
    view_->setColorLegend(tovik::kColorLaserId);
    for (int c = 0; c < 16; ++c) {
      const tovik::Rgb want = pointColor(tovik::kColorLaserId, 0, 0, 0, c);
      QVERIFY2(same(view_->legendColor(c), want), qPrintable(text(c, view_->legendColor(c), want)));
    }
    view_->setColorLegend(tovik::kColorSolid);
    QVERIFY(!view_->colorLegendShown());
    view_->setColorLegend(tovik::kColorElevation);
    QVERIFY(view_->colorLegendShown());
  }

  void trailKeepsTheLastRevolutionsDarkerByAge() {
    // Revolution j is a white block at x = -1 + 0.5 j; the camera looks down on all five.
    const auto block = [](int j) {
      std::vector<DrawnPoint> points = planeGrid(15, 0.2f, 255, 255, 255);
      for (DrawnPoint& p : points) p.x += -1.0f + 0.5f * float(j);
      return points;
    };
    view_->setColorLegend(tovik::kColorSolid);
    view_->setTrailLength(3);
    vtkRenderer* renderer = screen_->renderWindow()->GetRenderers()->GetFirstRenderer();
    vtkCamera* camera = renderer->GetActiveCamera();
    camera->SetPosition(0, 0, 5);
    camera->SetFocalPoint(0, 0, 0);
    camera->SetViewUp(0, 1, 0);
    renderer->ResetCameraClippingRange();
    // Drawn one by one, as revolutions arrive: each one's shade changes after its first frame.
    for (int j = 0; j < 5; ++j) {
      view_->setClouds(block(j), {}, 3);
      view_->render();
    }
    QCOMPARE(view_->drawnRevolutions(), 3);
    QCOMPARE(view_->drawnShade(0), 1.0);
    QVERIFY(view_->drawnShade(1) < 1.0 && view_->drawnShade(2) < view_->drawnShade(1) &&
            view_->drawnShade(2) > 0.0);
    QCOMPARE(view_->drawnShade(3), 0.0);

    const QImage image = screen_->grabFramebuffer();
    // The brightest pixel around each block's centre.
    std::array<int, 5> brightness{};
    for (int j = 0; j < 5; ++j) {
      renderer->SetWorldPoint(-1.0 + 0.5 * j, 0.0, 0.0, 1.0);
      renderer->WorldToDisplay();
      const double* d = renderer->GetDisplayPoint();
      const int cx = int(d[0]), cy = image.height() - 1 - int(d[1]);
      for (int y = cy - 10; y <= cy + 10; ++y)
        for (int x = cx - 10; x <= cx + 10; ++x)
          brightness[size_t(j)] = std::max(brightness[size_t(j)], qGray(image.pixel(x, y)));
    }
    const QString seen = QString("%1 %2 %3 %4 %5")
                             .arg(brightness[0])
                             .arg(brightness[1])
                             .arg(brightness[2])
                             .arg(brightness[3])
                             .arg(brightness[4]);
    // Dropped revolutions are gone; the kept ones fade with age, the current one is full white.
    QVERIFY2(brightness[0] == 0 && brightness[1] == 0, qPrintable(seen));
    QVERIFY2(brightness[4] > 240 && brightness[3] < brightness[4] - 30 &&
                 brightness[2] < brightness[3] - 30 && brightness[2] > 60,
             qPrintable(seen));

    // A selection over the whole view picks the current revolution only.
    std::vector<int> picked;
    connect(view_, &PointCloudView::areaPicked, this,
            [&](std::vector<int> indices) { picked = indices; });
    view_->toggleAreaSelectionMode();
    drag(5, 5, kWidth - 5, kHeight - 5);
    view_->toggleAreaSelectionMode();
    QCOMPARE(int(picked.size()), 15 * 15);
    for (const DrawnPoint& p : view_->realTimePointsAt(picked))
      QVERIFY2(std::fabs(p.x - 1.0f) < 0.11f, qPrintable(QString::number(p.x)));

    // A shorter trail drops the oldest and shades the rest for its length; an empty revolution
    // ends the trail; so does clearing the view.
    view_->setTrailLength(2);
    QCOMPARE(view_->drawnRevolutions(), 2);
    QCOMPARE(view_->drawnShade(1), PointCloudView::trailShade(1, 2));
    view_->setClouds({}, {}, 3);
    QCOMPARE(view_->drawnRevolutions(), 1);
    view_->setClouds(block(0), {}, 3);
    view_->setClouds(block(1), {}, 3);
    QCOMPARE(view_->drawnRevolutions(), 2);
    view_->clearAll();
    QCOMPARE(view_->drawnRevolutions(), 0);

    // A red revolution 1 m above the green current one, both around (1, 0): the current one is
    // drawn over its trail and the info text reads its depth, 1 m from the sensor.
    std::vector<DrawnPoint> above = block(4), below = block(4);
    for (DrawnPoint& p : above) {
      p.z = 1.0f;
      p.g = p.b = 0;
    }
    for (DrawnPoint& p : below) p.r = p.b = 0;
    view_->setClouds(above, {}, 3);
    view_->render();
    view_->setClouds(below, {}, 3);
    camera->SetPosition(1, 0, 5);
    camera->SetFocalPoint(1, 0, 0);
    renderer->ResetCameraClippingRange();
    view_->render();
    QCOMPARE(view_->drawnRevolutions(), 2);
    screen_->interactor()->SetEventInformation(kWidth / 2, kHeight / 2);
    view_->refreshInfoText();
    QVERIFY2(view_->lastInfoText().startsWith("Distance:1.0"), qPrintable(view_->lastInfoText()));
    const QRgb middle = screen_->grabFramebuffer().pixel(kWidth / 2, kHeight / 2);
    QVERIFY2(qGreen(middle) > 200 && qRed(middle) < 60, qPrintable(QString::number(middle, 16)));
  }

  void cameraPresetsFitTheCloud_data() {
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("dx");
    QTest::addColumn<double>("dy");
    QTest::addColumn<double>("dz");
    // The direction of each preset: focal point minus position.
    QTest::newRow("Front") << 0 << 0.0 << 1.2 << -0.2;
    QTest::newRow("Top") << 1 << 0.0 << 0.0 << -1.0;
    QTest::newRow("Left") << 2 << 1.0 << 0.0 << -0.2;
  }

  void cameraPresetsFitTheCloud() {
    // #9: the presets stood the camera 1 m from the sensor, inside a cloud tens of metres wide:
    // the view was black or nearly empty.
    QFETCH(int, index);
    QFETCH(double, dx);
    QFETCH(double, dy);
    QFETCH(double, dz);
    vtkRenderer* renderer = screen_->renderWindow()->GetRenderers()->GetFirstRenderer();
    vtkCamera* camera = renderer->GetActiveCamera();
    double distance[2] = {0, 0};
    const float radii[2] = {10.0f, 100.0f};
    for (int k = 0; k < 2; ++k) {
      const float r = radii[k];
      view_->setClouds(ring(r, 720), {}, 1);
      view_->setCameraPreset(index);
      const double norm = std::sqrt(dx * dx + dy * dy + dz * dz);
      const double* dir = camera->GetDirectionOfProjection();
      QVERIFY2(std::fabs(dir[0] - dx / norm) + std::fabs(dir[1] - dy / norm) +
                       std::fabs(dir[2] - dz / norm) <
                   1e-6,
               qPrintable(QString("%1 %2 %3").arg(dir[0]).arg(dir[1]).arg(dir[2])));
      // Every corner of the cloud's bounds lies in the window and in the depth range.
      for (int c = 0; c < 8; ++c) {
        renderer->SetWorldPoint(c & 1 ? r : -r, c & 2 ? r : -r, c & 4 ? r / 10 : -r / 10, 1.0);
        renderer->WorldToDisplay();
        const double* d = renderer->GetDisplayPoint();
        QVERIFY2(d[0] >= -1 && d[0] <= kWidth + 1 && d[1] >= -1 && d[1] <= kHeight + 1 &&
                     d[2] > 0 && d[2] < 1,
                 qPrintable(QString("corner %1 at %2 %3 %4").arg(c).arg(d[0]).arg(d[1]).arg(d[2])));
      }
      distance[k] = camera->GetDistance();
    }
    QVERIFY2(std::fabs(distance[1] / distance[0] - 10.0) < 0.1,
             qPrintable(QString("%1 %2").arg(distance[0]).arg(distance[1])));

    // With no point shown the preset keeps its own position.
    view_->setClouds({}, {}, 1);
    view_->setCameraPreset(index);
    QVERIFY(std::fabs(camera->GetDistance() - std::sqrt(dx * dx + dy * dy + dz * dz)) < 1e-9);
  }

 private:
  // n points on a circle of radius r round the sensor, alternately r / 10 above and below it.
  static std::vector<DrawnPoint> ring(float r, int n) {
    std::vector<DrawnPoint> points;
    for (int i = 0; i < n; ++i) {
      const double a = 2.0 * M_PI * i / n;
      points.push_back({float(r * std::cos(a)), float(r * std::sin(a)), i % 2 ? r / 10 : -r / 10,
                        255, 255, 255});
    }
    return points;
  }

  void key(char code, const char* sym) {
    vtkRenderWindowInteractor* iren = screen_->interactor();
    iren->SetKeyEventInformation(0, 0, code, 1, sym);
    iren->InvokeEvent(vtkCommand::KeyPressEvent);
    iren->InvokeEvent(vtkCommand::CharEvent);
    iren->InvokeEvent(vtkCommand::KeyReleaseEvent);
  }

  void drag(int x0, int y0, int x1, int y1) {
    vtkRenderWindowInteractor* iren = screen_->interactor();
    iren->SetEventInformation(x0, y0);
    iren->InvokeEvent(vtkCommand::LeftButtonPressEvent);
    iren->SetEventInformation(x1, y1);
    iren->InvokeEvent(vtkCommand::MouseMoveEvent);
    iren->InvokeEvent(vtkCommand::LeftButtonReleaseEvent);
  }

  QWidget* window_ = nullptr;
  QVTKOpenGLNativeWidget* screen_ = nullptr;
  PointCloudView* view_ = nullptr;
};

int main(int argc, char** argv) {
  QSurfaceFormat format = QVTKOpenGLNativeWidget::defaultFormat();
  format.setSamples(0);
  QSurfaceFormat::setDefaultFormat(format);
  QApplication app(argc, argv);
  PointCloudViewTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "point_cloud_view_test.moc"
