// The 3D view: a PCL visualizer drawn into the form's VTK widget `screen`, with the two clouds of
// the current revolution, the camera presets, the coordinate axes, the measuring grid, the
// orientation marker, the point-size keys, the rubber-band area selection and the info text.
// PCL and VTK headers stay in the .cpp.
#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "app/revolution_pass.h"

class QVTKOpenGLNativeWidget;

namespace tovik {

class PointCloudView : public QObject {
  Q_OBJECT

 public:
  // Builds the visualizer named "viewer" into screen (no interactor of its own), switches
  // multisampling off, adds the orientation-marker axes and registers the area-picking and
  // keyboard callbacks.
  explicit PointCloudView(QVTKOpenGLNativeWidget* screen, QObject* parent = nullptr);
  ~PointCloudView() override;

  // Replaces "clicked_points" (fixed colour 0, 0, 255, point size 5) and "realTime_points"
  // (each point's own colour, point size pointSize). Does not render.
  void setClouds(const std::vector<DrawnPoint>& realTime, const std::vector<DrawnPoint>& clicked,
                 int pointSize);
  // Shows points as "clicked_points" (the area selection result), blue, size 5.
  void setClickedCloud(const std::vector<DrawnPoint>& points);

  // Trails: the last n drawn revolutions stay in view (n from 1, only the current one, to 20),
  // each older one darker. A trail is drawing only: "realTime_points" is always the current
  // revolution, the one that area selection, the point list and the camera fit use. A revolution
  // with no point drawn ends the trail; clearAll() drops it.
  static constexpr int kMaxTrailLength = 20;
  void setTrailLength(int n);
  int trailLength() const;
  // Removes the trail; the current revolution stays. Does not render.
  void dropTrail();
  // Revolutions in view: the current one (when drawn) and its trail.
  int drawnRevolutions() const;
  // The brightness factor (0..1] of the revolution drawn age revolutions before the current one
  // (age 0) for a trail of length n.
  static double trailShade(int age, int n);
  // The factor the view gives the drawn revolution of that age now (0 when there is none).
  double drawnShade(int age) const;

  // The colour legend of a colour mode (the colour combo's index): a scale at the right edge of
  // the view with its title and unit, whose lookup table gives every value the colour the
  // revolution pass gives it. Hidden for the "Solid" mode. Does not render.
  void setColorLegend(int colorMode);
  bool colorLegendShown() const;
  // The colour the legend's lookup table gives value.
  Rgb legendColor(double value) const;
  // Renders the scene now.
  void render();

  // Looks along the preset's direction (0 "Front", 1 "Top", 2 "Left"), moved back until both
  // clouds are in sight; with no points shown the camera stands 1 m from the sensor.
  void setCameraPreset(int index);
  void resetCamera();
  // Adds or removes the coordinate system "coordinate" (scale 0.5); returns whether it is shown.
  bool toggleAxes(bool shown);
  // Draws the measuring grid (41 + 41 lines, 20 x 36 circle segments) or removes all shapes.
  void drawGrid();
  void removeAllShapes();
  // Removes every cloud and shape, resets the camera.
  void clearAll();

  // Switches the visualizer's rubber-band selection mode on or off through the interactor's own
  // key events (the visualizer's "x" key), as an operator's "x" in the view does.
  void toggleAreaSelectionMode();
  // The rubber-band selection mode as the interactor style holds it: the only record of the
  // mode, whether the "x" key or the program switched it.
  bool areaSelectionMode() const;
  // Switches the mode to on unless it is already there.
  void setAreaSelectionMode(bool on);
  // Refreshes the info text "Distance:...    Azimuth:..." (id "0") from the point under the
  // last mouse position. Picks with a picker of its own: the interactor's picker stays the one
  // the selection mode needs.
  void refreshInfoText();
  // The info text for a picked world position (six digits after the point).
  static QString infoText(double x, double y, double z);
  static double pickedAzimuth(double x, double y);

  // The points of the last setClouds' realTime list at the given indices.
  std::vector<DrawnPoint> realTimePointsAt(const std::vector<int>& indices) const;
  // The number of shapes in the view (for tests) and whether a shape id exists.
  int shapeCount() const;
  bool hasShape(const std::string& id) const;
  bool hasCloud(const std::string& id) const;
  // The text shown by the last refreshInfoText() (empty before the first).
  QString lastInfoText() const;

 signals:
  // The area-picking callback fired with these indices into the realTime cloud.
  void areaPicked(std::vector<int> indices);
  // Key "+" (delta +1) or "-" (delta -1) pressed in the view.
  void pointSizeKey(int delta);
  // The rubber-band selection mode went on or off (key "x" in the view, or the program).
  void areaSelectionModeChanged(bool on);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace tovik
