#include "app/point_cloud_view.h"

#include <QVTKOpenGLNativeWidget.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>
#include <pcl/visualization/pcl_visualizer.h>
#include <vtkAxesActor.h>
#include <vtkDoubleArray.h>
#include <vtkGenericOpenGLRenderWindow.h>
#include <vtkInteractorStyleRubberBandPick.h>
#include <vtkLODActor.h>
#include <vtkLookupTable.h>
#include <vtkOrientationMarkerWidget.h>
#include <vtkProperty.h>
#include <vtkRenderWindowInteractor.h>
#include <vtkRenderer.h>
#include <vtkRendererCollection.h>
#include <vtkScalarBarActor.h>
#include <vtkSmartPointer.h>
#include <vtkTextProperty.h>
#include <vtkWorldPointPicker.h>

#include <algorithm>
#include <cmath>
#include <deque>

namespace tovik {

namespace {

using Cloud = pcl::PointCloud<pcl::PointXYZRGB>;

const char* const kClickedId = "clicked_points";
const char* const kRealTimeId = "realTime_points";
const char* const kAxesId = "coordinate";
const char* const kInfoTextId = "0";

// The selection result is drawn in fixed blue, five pixels wide.
constexpr int kClickedPointSize = 5;

// Angles of the grid in degrees, converted with pi taken as 3.14159 like the point geometry.
constexpr double kGridDegToRad = 3.14159 / 180.0;
// Grid lines run from -200 m to 200 m every 10 m; circles every 10 m out to 200 m, in segments
// of 10 degrees.
constexpr int kGridHalfExtent = 200;
constexpr int kGridStep = 10;
// The lines parallel to x are numbered w + 41 so that they never share an id with those parallel
// to y (numbered w; w is a multiple of 10).
constexpr int kCrossLineIdOffset = 41;
constexpr double kGridOpacity = 0.2;

// Info text: position in pixels, font size, colour (0..1).
constexpr int kInfoTextX = 150;
constexpr int kInfoTextY = 0;
constexpr int kInfoTextFontSize = 20;

// The colour legend: a vertical scale at the right edge, in parts of the view's size.
constexpr double kLegendX = 0.91, kLegendY = 0.25, kLegendWidth = 0.08, kLegendHeight = 0.5;
constexpr int kLegendTitleFontSize = 14;
constexpr int kLegendLabelFontSize = 12;
// Pixels between the title and the top of the bar, clear of the top label.
constexpr int kLegendTitleGap = 10;

// Each revolution of a trail of n is 0.8 / n darker than the next newer one: the oldest keeps
// 60 % of its brightness in a trail of 2 and 24 % in a trail of 20.
constexpr double kTrailFade = 0.8;

// The rubber-band style keeps its mode (0 turns the camera, 1 selects) and whether a rubber band
// is being dragged in protected members without accessors; this class only names them.
class RubberBandState : public vtkInteractorStyleRubberBandPick {
 public:
  static bool selecting(vtkInteractorStyleRubberBandPick* style) {
    return style->*(&RubberBandState::CurrentMode) == 1;
  }
  static void dropRubberBand(vtkInteractorStyleRubberBandPick* style) {
    style->*(&RubberBandState::Moving) = 0;
  }
};

// Grows box (minX, maxX, minY, maxY, minZ, maxZ) by the points of cloud; false when it is empty.
bool growBounds(const Cloud& cloud, double box[6]) {
  for (const pcl::PointXYZRGB& p : cloud.points) {
    const double v[3] = {p.x, p.y, p.z};
    for (int a = 0; a < 3; ++a) {
      box[2 * a] = std::min(box[2 * a], v[a]);
      box[2 * a + 1] = std::max(box[2 * a + 1], v[a]);
    }
  }
  return !cloud.points.empty();
}

void fillCloud(const std::vector<DrawnPoint>& points, Cloud* cloud) {
  cloud->points.resize(points.size());
  for (size_t i = 0; i < points.size(); ++i) {
    const DrawnPoint& s = points[i];
    pcl::PointXYZRGB& p = cloud->points[i];
    p.x = s.x;
    p.y = s.y;
    p.z = s.z;
    p.r = s.r;
    p.g = s.g;
    p.b = s.b;
  }
  cloud->width = uint32_t(points.size());
  cloud->height = 1;
  // Every drawn point has finite coordinates; the visualizer skips its NaN scan for dense clouds.
  cloud->is_dense = true;
}

}  // namespace

struct PointCloudView::Impl {
  vtkSmartPointer<vtkRenderer> renderer;
  vtkSmartPointer<vtkGenericOpenGLRenderWindow> window;
  vtkSmartPointer<vtkRenderWindowInteractor> interactor;
  pcl::visualization::PCLVisualizer::Ptr viewer;
  vtkSmartPointer<vtkAxesActor> markerAxes;
  vtkSmartPointer<vtkOrientationMarkerWidget> marker;
  vtkSmartPointer<vtkWorldPointPicker> picker;
  QString infoText;
  Cloud::Ptr realTime{new Cloud};
  Cloud::Ptr clicked{new Cloud};
  boost::signals2::connection areaConnection;
  boost::signals2::connection keyConnection;
  boost::signals2::connection mouseConnection;
  vtkSmartPointer<vtkLookupTable> legendTable;
  vtkSmartPointer<vtkScalarBarActor> legend;
  int trailLength = 1;
  // The revolutions drawn before the current one, newest first. Their actors left the
  // visualizer's cloud map and renderer when they aged: neither area picking nor
  // removeAllPointClouds sees them.
  std::deque<pcl::visualization::CloudActor> trail;
  // Draws the trail in the layer below the visualizer's renderer, with the same camera. The
  // depth buffer is cleared between the layers, so the current revolution is drawn over its
  // trail and the depth the info text picks is the current revolution's. Only in the window
  // while the trail is longer than one revolution.
  vtkSmartPointer<vtkRenderer> trailRenderer;
  bool trailLayerShown = false;
  // The selection mode last reported by areaSelectionModeChanged.
  bool selecting = false;
  // The left button went down while the view was selecting: only such a drag selects.
  bool pressSelecting = false;

  vtkInteractorStyleRubberBandPick* style() const { return viewer->getInteractorStyle(); }

  // Follows the style's selection mode after each key. A drag begun in the other mode ends here:
  // its rubber band would be drawn from a stale image of the view, and a camera turn would go on
  // without a button.
  void followSelectionMode(PointCloudView* view) {
    const bool now = RubberBandState::selecting(style());
    if (now == selecting) return;
    selecting = now;
    pressSelecting = false;
    RubberBandState::dropRubberBand(style());
    if (style()->GetState() != VTKIS_NONE) {
      style()->StopState();
      style()->ReleaseFocus();
    }
    emit view->areaSelectionModeChanged(now);
  }

  // Moves the camera back along its direction until both clouds are in sight; with no point
  // shown it stays. Shapes (the grid reaches 200 m) do not count; they stay within the depth
  // range.
  void fitCameraToClouds() {
    double box[6] = {1e300, -1e300, 1e300, -1e300, 1e300, -1e300};
    const bool anyReal = growBounds(*realTime, box);
    const bool anyClicked = growBounds(*clicked, box);
    if (!anyReal && !anyClicked) return;
    renderer->ResetCamera(box);
    renderer->ResetCameraClippingRange();
  }

  // Replaces the points of the cloud id, or adds it when the view does not hold it (at start,
  // after clearAll). Updating the existing entry draws the same as removing and adding it again
  // and is measurably faster (bench_draw BM_Redraw).
  template <typename Handler>
  void replaceCloud(const Cloud::Ptr& cloud, const Handler& handler, const char* id,
                    int pointSize) {
    if (!viewer->updatePointCloud<pcl::PointXYZRGB>(cloud, handler, id))
      viewer->addPointCloud<pcl::PointXYZRGB>(cloud, handler, id);
    viewer->setPointCloudRenderingProperties(pcl::visualization::PCL_VISUALIZER_POINT_SIZE,
                                             pointSize, id);
  }

  // The shown revolution becomes the newest of the trail. The next one takes over the actor of
  // the revolution that leaves a full trail, whose buffers it overwrites in place as a trail of
  // one does: a steady stream allocates no new actors. Drawn last, the current revolution wins
  // where an older one lies at the same depth.
  void ageRealTime() {
    auto clouds = viewer->getCloudActorMap();
    const auto it = clouds->find(kRealTimeId);
    if (it == clouds->end()) return;
    showTrailLayer(true);
    renderer->RemoveActor(it->second.actor);
    trailRenderer->AddActor(it->second.actor);
    trail.push_front(std::move(it->second));
    clouds->erase(it);
    if (trail.size() < size_t(trailLength)) return;
    pcl::visualization::CloudActor reused = std::move(trail.back());
    trail.pop_back();
    trailRenderer->RemoveActor(reused.actor);
    renderer->AddActor(reused.actor);
    reused.actor->GetProperty()->SetDiffuse(1.0);
    clouds->emplace(kRealTimeId, std::move(reused));
  }

  // Keeps at most keep revolutions of the trail and shades them by age.
  void trimTrail(size_t keep) {
    while (trail.size() > keep) {
      trailRenderer->RemoveActor(trail.back().actor);
      trail.pop_back();
    }
    if (trail.empty()) showTrailLayer(false);
    // Lighting is off for points, so the diffuse factor scales each point's own colour: a
    // darker revolution that stays opaque and draws as the current one does (translucent
    // actors would go through the renderer's translucent pass).
    for (size_t age = 1; age <= trail.size(); ++age)
      trail[age - 1].actor->GetProperty()->SetDiffuse(
          PointCloudView::trailShade(int(age), trailLength));
  }

  void showTrailLayer(bool on) {
    if (on == trailLayerShown) return;
    trailLayerShown = on;
    if (on) {
      window->SetNumberOfLayers(std::max(2, window->GetNumberOfLayers()));
      renderer->SetLayer(1);
      trailRenderer->SetActiveCamera(renderer->GetActiveCamera());
      window->AddRenderer(trailRenderer);
    } else {
      window->RemoveRenderer(trailRenderer);
      renderer->SetLayer(0);
    }
  }

  void replaceClicked() {
    pcl::visualization::PointCloudColorHandlerCustom<pcl::PointXYZRGB> blue(clicked, 0, 0, 255);
    replaceCloud(clicked, blue, kClickedId, kClickedPointSize);
  }

  void addGridLine(double x0, double y0, double x1, double y1, const std::string& id) {
    // The grid is drawn white at opacity 0.2: a faint grey over the black background.
    viewer->addLine(pcl::PointXYZ(float(x0), float(y0), 0.0f),
                    pcl::PointXYZ(float(x1), float(y1), 0.0f), 1.0, 1.0, 1.0, id);
    viewer->setShapeRenderingProperties(pcl::visualization::PCL_VISUALIZER_OPACITY, kGridOpacity,
                                        id);
  }
};

PointCloudView::PointCloudView(QVTKOpenGLNativeWidget* screen, QObject* parent)
    : QObject(parent), d_(new Impl) {
  d_->renderer = vtkSmartPointer<vtkRenderer>::New();
  d_->window = vtkSmartPointer<vtkGenericOpenGLRenderWindow>::New();
  // Multisampling makes every frame two to three times slower and gains nothing for points.
  d_->window->SetMultiSamples(0);
  d_->viewer.reset(
      new pcl::visualization::PCLVisualizer(d_->renderer, d_->window, "viewer", false));
  d_->viewer->setBackgroundColor(0.0, 0.0, 0.0);
  d_->viewer->setShowFPS(false);
  screen->setRenderWindow(d_->window.Get());
  d_->interactor = screen->interactor();
  d_->viewer->setupInteractor(screen->interactor(), screen->renderWindow());

  d_->areaConnection = d_->viewer->registerAreaPickingCallback(
      [this](const pcl::visualization::AreaPickingEvent& event) {
        // The visualizer picks on every release while selecting, also when the button went down
        // before "x" switched the mode on; such a release is no selection.
        if (!d_->pressSelecting) return;
        d_->pressSelecting = false;
        // Indices into the realTime cloud only: the clicked cloud is the previous selection.
        std::vector<int> indices;
        const pcl::Indices picked = event.getPointsIndices(kRealTimeId);
        indices.assign(picked.begin(), picked.end());
        emit areaPicked(indices);
      });
  d_->keyConnection =
      d_->viewer->registerKeyboardCallback([this](const pcl::visualization::KeyboardEvent& event) {
        d_->followSelectionMode(this);
        if (!event.keyDown()) return;
        const std::string& sym = event.getKeySym();
        const char code = event.getKeyCode();
        if (code == '+' || sym == "plus" || sym == "KP_Add") {
          emit pointSizeKey(+1);
        } else if (code == '-' || sym == "minus" || sym == "KP_Subtract") {
          emit pointSizeKey(-1);
        }
      });

  d_->mouseConnection =
      d_->viewer->registerMouseCallback([this](const pcl::visualization::MouseEvent& event) {
        if (event.getButton() != pcl::visualization::MouseEvent::LeftButton) return;
        if (event.getType() == pcl::visualization::MouseEvent::MouseButtonPress ||
            event.getType() == pcl::visualization::MouseEvent::MouseDblClick)
          d_->pressSelecting = event.getSelectionMode();
      });

  d_->markerAxes = vtkSmartPointer<vtkAxesActor>::New();
  d_->marker = vtkSmartPointer<vtkOrientationMarkerWidget>::New();
  d_->marker->SetOrientationMarker(d_->markerAxes);
  d_->marker->SetInteractor(d_->interactor);
  d_->marker->SetEnabled(1);
  d_->marker->InteractiveOff();

  d_->picker = vtkSmartPointer<vtkWorldPointPicker>::New();

  d_->trailRenderer = vtkSmartPointer<vtkRenderer>::New();
  d_->trailRenderer->SetLayer(0);
  d_->trailRenderer->InteractiveOff();
  d_->trailRenderer->SetBackground(0.0, 0.0, 0.0);

  d_->legendTable = vtkSmartPointer<vtkLookupTable>::New();
  d_->legend = vtkSmartPointer<vtkScalarBarActor>::New();
  d_->legend->SetLookupTable(d_->legendTable);
  d_->legend->SetPosition(kLegendX, kLegendY);
  d_->legend->SetWidth(kLegendWidth);
  d_->legend->SetHeight(kLegendHeight);
  d_->legend->SetLabelFormat("%.0f");
  d_->legend->UseCustomLabelsOn();
  d_->legend->UnconstrainedFontSizeOn();
  d_->legend->SetVerticalTitleSeparation(kLegendTitleGap);
  d_->legend->GetTitleTextProperty()->SetFontSize(kLegendTitleFontSize);
  d_->legend->GetLabelTextProperty()->SetFontSize(kLegendLabelFontSize);
  for (vtkTextProperty* text :
       {d_->legend->GetTitleTextProperty(), d_->legend->GetLabelTextProperty()}) {
    text->SetColor(1.0, 1.0, 1.0);
    text->ShadowOff();
    text->ItalicOff();
  }
  // Beside the clouds in the renderer, not a visualizer shape: removing all shapes keeps it.
  d_->renderer->AddActor2D(d_->legend);
  setColorLegend(kColorIntensity);
  screen->update();
}

PointCloudView::~PointCloudView() {
  d_->areaConnection.disconnect();
  d_->keyConnection.disconnect();
  d_->mouseConnection.disconnect();
  d_->marker->SetEnabled(0);
}

void PointCloudView::setClouds(const std::vector<DrawnPoint>& realTime,
                               const std::vector<DrawnPoint>& clicked, int pointSize) {
  fillCloud(clicked, d_->clicked.get());
  d_->replaceClicked();

  // A revolution without points (none passed the filters, or an export took its place) ends
  // the trail: the view shows what it shows now.
  if (d_->trailLength > 1 && !realTime.empty() && !d_->realTime->empty()) {
    d_->ageRealTime();
  } else {
    d_->trimTrail(0);
  }
  fillCloud(realTime, d_->realTime.get());
  pcl::visualization::PointCloudColorHandlerRGBField<pcl::PointXYZRGB> own(d_->realTime);
  d_->replaceCloud(d_->realTime, own, kRealTimeId, pointSize);
  d_->trimTrail(size_t(d_->trailLength - 1));
}

void PointCloudView::setTrailLength(int n) {
  d_->trailLength = std::clamp(n, 1, kMaxTrailLength);
  d_->trimTrail(size_t(d_->trailLength - 1));
}

int PointCloudView::trailLength() const { return d_->trailLength; }

void PointCloudView::dropTrail() { d_->trimTrail(0); }

int PointCloudView::drawnRevolutions() const {
  return int(d_->trail.size()) + (hasCloud(kRealTimeId) ? 1 : 0);
}

double PointCloudView::trailShade(int age, int n) {
  if (age <= 0) return 1.0;
  if (age >= n) return 0.0;
  return 1.0 - kTrailFade * double(age) / double(n);
}

double PointCloudView::drawnShade(int age) const {
  if (age == 0) return hasCloud(kRealTimeId) ? 1.0 : 0.0;
  if (age < 0 || size_t(age) > d_->trail.size()) return 0.0;
  return d_->trail[size_t(age) - 1].actor->GetProperty()->GetDiffuse();
}

void PointCloudView::setColorLegend(int colorMode) {
  ColorScale scale;
  if (!colorScale(colorMode, &scale)) {
    d_->legend->VisibilityOff();
    return;
  }
  vtkLookupTable* table = d_->legendTable;
  table->SetNumberOfTableValues(scale.entries);
  table->SetTableRange(scale.min, scale.max);
  for (int i = 0; i < scale.entries; ++i) {
    const Rgb c = colorScaleEntry(colorMode, i);
    table->SetTableValue(i, c.r / 255.0, c.g / 255.0, c.b / 255.0, 1.0);
  }
  auto ticks = vtkSmartPointer<vtkDoubleArray>::New();
  for (double t : scale.ticks) ticks->InsertNextValue(t);
  d_->legend->SetCustomLabels(ticks);
  // The bar shows every entry: by default it resamples the table to 64 colours.
  d_->legend->SetMaximumNumberOfColors(scale.entries);
  d_->legend->SetTitle(scale.title);
  d_->legend->VisibilityOn();
}

bool PointCloudView::colorLegendShown() const { return d_->legend->GetVisibility() != 0; }

Rgb PointCloudView::legendColor(double value) const {
  double c[3];
  d_->legendTable->GetColor(value, c);
  const auto byte = [](double v) { return uint8_t(std::lround(std::clamp(v, 0.0, 1.0) * 255.0)); };
  return Rgb{byte(c[0]), byte(c[1]), byte(c[2])};
}

void PointCloudView::setClickedCloud(const std::vector<DrawnPoint>& points) {
  fillCloud(points, d_->clicked.get());
  d_->replaceClicked();
  render();
}

void PointCloudView::render() { d_->window->Render(); }

void PointCloudView::setCameraPreset(int index) {
  struct Preset {
    double pos[3], focal[3], up[3];
  };
  static const Preset kPresets[3] = {
      {{0, -1, 0}, {0, 0.2, -0.2}, {0, 0, 1}},  // "Front"
      {{0, 0, 1}, {0, 0, 0}, {0, 1, 0}},        // "Top"
      {{-1, 0, 0}, {0, 0, -0.2}, {0, 0, 1}},    // "Left"
  };
  if (index < 0 || index > 2) return;
  const Preset& p = kPresets[index];
  d_->viewer->setCameraPosition(p.pos[0], p.pos[1], p.pos[2], p.focal[0], p.focal[1], p.focal[2],
                                p.up[0], p.up[1], p.up[2]);
  // One metre from the sensor sees almost nothing of a cloud tens of metres wide.
  d_->fitCameraToClouds();
  render();
}

void PointCloudView::resetCamera() {
  d_->viewer->resetCamera();
  render();
}

bool PointCloudView::toggleAxes(bool shown) {
  if (shown) {
    d_->viewer->removeCoordinateSystem(kAxesId);
    render();
  } else {
    // The visualizer's axes use VTK shader accessors that VTK reports as deprecated on the
    // console when their shaders are built, at the first render. The axes draw correctly, so
    // those reports are silenced for that render.
    d_->viewer->addCoordinateSystem(0.5, kAxesId);
    const int warnings = vtkObject::GetGlobalWarningDisplay();
    vtkObject::GlobalWarningDisplayOff();
    render();
    vtkObject::SetGlobalWarningDisplay(warnings);
  }
  return !shown;
}

void PointCloudView::drawGrid() {
  for (int w = -kGridHalfExtent; w <= kGridHalfExtent; w += kGridStep) {
    d_->addGridLine(w, -kGridHalfExtent, w, kGridHalfExtent, "Line" + std::to_string(w));
    d_->addGridLine(-kGridHalfExtent, w, kGridHalfExtent, w,
                    "Line" + std::to_string(w + kCrossLineIdOffset));
  }
  for (int r = kGridStep; r <= kGridHalfExtent; r += kGridStep) {
    for (int deg = 0; deg < 360; deg += 10) {
      const double a0 = deg * kGridDegToRad;
      const double a1 = (deg + 10) * kGridDegToRad;
      d_->addGridLine(r * std::cos(a0), r * std::sin(a0), r * std::cos(a1), r * std::sin(a1),
                      "Circle" + std::to_string(r) + std::to_string(deg));
    }
  }
  render();
}

void PointCloudView::removeAllShapes() {
  d_->viewer->removeAllShapes();
  render();
}

void PointCloudView::clearAll() {
  d_->trimTrail(0);
  d_->viewer->removeAllPointClouds();
  d_->viewer->removeAllShapes();
  d_->realTime->clear();
  d_->clicked->clear();
  d_->viewer->resetCamera();
  render();
}

void PointCloudView::toggleAreaSelectionMode() {
  // The visualizer's own key "x" switches its rubber-band selection; the key events go straight
  // to the interactor, whatever window has the keyboard.
  vtkRenderWindowInteractor* iren = d_->interactor;
  iren->SetKeyEventInformation(0, 0, 'x', 1, "x");
  iren->InvokeEvent(vtkCommand::KeyPressEvent);
  iren->InvokeEvent(vtkCommand::CharEvent);
  iren->InvokeEvent(vtkCommand::KeyReleaseEvent);
}

bool PointCloudView::areaSelectionMode() const { return RubberBandState::selecting(d_->style()); }

void PointCloudView::setAreaSelectionMode(bool on) {
  if (areaSelectionMode() != on) toggleAreaSelectionMode();
}

void PointCloudView::refreshInfoText() {
  vtkRenderer* renderer = d_->window->GetRenderers()->GetFirstRenderer();
  if (!renderer) return;
  // The world-point picker reads the depth buffer of the last frame at the last mouse position.
  // It never becomes the interactor's picker: in selection mode the visualizer's area pick takes
  // whatever picker the interactor holds for an area picker.
  const int* pos = d_->interactor->GetEventPosition();
  d_->picker->Pick(pos[0], pos[1], 0, renderer);
  double world[3];
  d_->picker->GetPickPosition(world);
  d_->infoText = infoText(world[0], world[1], world[2]);
  const std::string text = d_->infoText.toStdString();
  if (!d_->viewer->contains(kInfoTextId)) {
    d_->viewer->addText(text, kInfoTextX, kInfoTextY, kInfoTextFontSize, 0.0, 0.0, 1.0,
                        kInfoTextId);
  }
  d_->viewer->updateText(text, kInfoTextX, kInfoTextY, kInfoTextFontSize, 0.0, 0.0, 1.0,
                         kInfoTextId);
}

QString PointCloudView::infoText(double x, double y, double z) {
  const double distance = std::sqrt(x * x + y * y + z * z);
  return QStringLiteral("Distance:") + QString::number(distance, 'f', 6) +
         QStringLiteral("    Azimuth:") + QString::number(pickedAzimuth(x, y), 'f', 6);
}

double PointCloudView::pickedAzimuth(double x, double y) {
  const double r = std::sqrt(x * x + y * y);
  // Angle from the x axis in degrees, 0..90; a pick exactly on the axis of rotation counts as 0.
  const double p = r > 0.0 ? std::asin(std::min(1.0, std::fabs(y) / r)) * 57.2957795 : 0.0;
  // The device's azimuth grows clockwise seen from above (y = -d sin A).
  if (x < 0 && y > 0) return 180.0 + p;
  if (x < 0 && y < 0) return 180.0 - p;
  if (x > 0 && y < 0) return p;
  if (x >= 0 && y >= 0) return 360.0 - p;
  return p;  // x < 0 on the x axis, or x = 0 with y < 0
}

std::vector<DrawnPoint> PointCloudView::realTimePointsAt(const std::vector<int>& indices) const {
  std::vector<DrawnPoint> points;
  points.reserve(indices.size());
  const auto& cloud = d_->realTime->points;
  for (int i : indices) {
    if (i < 0 || size_t(i) >= cloud.size()) continue;
    const pcl::PointXYZRGB& p = cloud[size_t(i)];
    points.push_back(DrawnPoint{p.x, p.y, p.z, p.r, p.g, p.b});
  }
  return points;
}

QString PointCloudView::lastInfoText() const { return d_->infoText; }

int PointCloudView::shapeCount() const { return int(d_->viewer->getShapeActorMap()->size()); }

bool PointCloudView::hasShape(const std::string& id) const {
  // Shapes and coordinate systems ("coordinate") share the id space of the view.
  const auto& shapes = *d_->viewer->getShapeActorMap();
  if (shapes.find(id) != shapes.end()) return true;
  return !hasCloud(id) && d_->viewer->contains(id);
}

bool PointCloudView::hasCloud(const std::string& id) const {
  const auto& clouds = *d_->viewer->getCloudActorMap();
  return clouds.find(id) != clouds.end();
}

}  // namespace tovik
