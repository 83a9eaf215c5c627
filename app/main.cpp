// tovik16-viewer: the Tovik16 viewer and configuration tool.
#include <QVTKOpenGLNativeWidget.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QPixmap>
#include <QScreen>
#include <QSurfaceFormat>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <memory>

#include "acquisition/memory_tuning.h"
#include "app/manwindow.h"
#include "tovik16_version.h"

namespace {

// --help and --version are answered before the application connects to a display (without one
// QApplication aborts), so that they work in a plain console and for help2man at build time.
void answerHelpOrVersion(QCommandLineParser& parser, int argc, char* argv[]) {
  for (int i = 1; i < argc; ++i) {
    const QByteArray arg(argv[i]);
    if (arg == "--") return;
    if (arg == "-h" || arg == "-?" || arg == "--help" || arg == "--help-all" || arg == "-v" ||
        arg == "--version") {
      QCoreApplication console(argc, argv);
      parser.process(console);  // prints the answer and exits
    }
  }
}

}  // namespace

int main(int argc, char* argv[]) {
  // Revolutions reach the window in pooled frames; this only guards what still allocates.
  tovik::tuneAllocatorForStreaming();
  QCoreApplication::setApplicationName(QStringLiteral("tovik16-viewer"));
  QCoreApplication::setApplicationVersion(QString::fromStdString(tovik::versionText()));

  QCommandLineParser parser;
  parser.setApplicationDescription(
      QStringLiteral("Viewer and configuration tool for the Tovik16 lidar."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption connectOption(QStringLiteral("connect"),
                                         QStringLiteral("Press Connect once the window is shown."));
  const QCommandLineOption screenshotOption(
      QStringLiteral("screenshot"),
      QStringLiteral("Save a picture of the main window to <file>, then quit."),
      QStringLiteral("file"));
  const QCommandLineOption afterOption(
      QStringLiteral("after"), QStringLiteral("Seconds to wait before the screenshot (default 5)."),
      QStringLiteral("seconds"), QStringLiteral("5"));
  const QCommandLineOption perfLogOption(
      QStringLiteral("perf-log"),
      QStringLiteral("Append revolution and redraw figures to <file> once a second."),
      QStringLiteral("file"));
  const QCommandLineOption openOption(
      QStringLiteral("open"),
      QStringLiteral("Load the capture <file> into the Offline tab once the window is shown."),
      QStringLiteral("file"));
  parser.addOptions({connectOption, screenshotOption, afterOption, perfLogOption, openOption});
  const QCommandLineOption engineeringOption(
      QStringLiteral("engineering"),
      QStringLiteral("Start in engineering mode: the Tovik16 tab shows the advanced settings, the "
                     "vertical angle calibration with its write to the lidar, and the connection "
                     "mode (the Help tab switches it on and off)."));
  parser.addOption(engineeringOption);
  const QCommandLineOption playOption(
      QStringLiteral("play"),
      QStringLiteral("Start playing the capture at once; the sensor window asks first unless the "
                     "capture's device packets name the sensor."));
  parser.addOption(playOption);
  parser.addPositionalArgument(
      QStringLiteral("capture"),
      QStringLiteral("A pcap or pcapng capture to load, as --open does (how the desktop opens "
                     "a capture file with the viewer)."),
      QStringLiteral("[capture]"));
  answerHelpOrVersion(parser, argc, argv);

  // VTK's surface format must be the default before the application exists. Multisampling
  // costs about three times the draw time and gains nothing for points.
  QSurfaceFormat format = QVTKOpenGLNativeWidget::defaultFormat();
  format.setSamples(0);
  QSurfaceFormat::setDefaultFormat(format);

  QApplication app(argc, argv);
  parser.process(app);

  bool afterValid = false;
  const double afterS = parser.value(afterOption).toDouble(&afterValid);
  if (!afterValid || afterS < 0) {
    std::fprintf(stderr, "tovik16-viewer: --after needs a number of seconds, not \"%s\"\n",
                 qPrintable(parser.value(afterOption)));
    return 2;
  }
  if (parser.isSet(afterOption) && !parser.isSet(screenshotOption)) {
    std::fprintf(stderr, "tovik16-viewer: --after goes with --screenshot\n");
    return 2;
  }

  const QStringList captures = parser.positionalArguments();
  if (captures.size() > 1 || (!captures.isEmpty() && parser.isSet(openOption))) {
    std::fprintf(stderr, "tovik16-viewer: give one capture, as an argument or with --open\n");
    return 2;
  }
  const QString capture = parser.isSet(openOption) ? parser.value(openOption) : captures.value(0);
  const bool play = parser.isSet(playOption);
  if (play && capture.isEmpty()) {
    std::fprintf(stderr, "tovik16-viewer: --play goes with a capture\n");
    return 2;
  }

  auto window = std::make_unique<manwindow>();
  // The form is 2312 pixels wide, wider than most screens: restore to the screen's size. A
  // window manager maximises the window anyway; without one (a virtual display) this is what
  // maximised looks like.
  if (const QScreen* screen = window->screen()) window->resize(screen->availableGeometry().size());
  window->show();
  window->setAttribute(Qt::WA_QuitOnClose);
  if (parser.isSet(engineeringOption)) window->setEngineeringMode(true);
  if (parser.isSet(perfLogOption) && !window->setPerfLog(parser.value(perfLogOption))) {
    std::fprintf(stderr, "tovik16-viewer: cannot write the log %s\n",
                 qPrintable(parser.value(perfLogOption)));
    return 2;
  }

  if (!capture.isEmpty()) {
    QTimer::singleShot(0, window.get(), [&window, capture, play] {
      if (window->openCapture(capture) && play) window->playLoadedCapture();
    });
  }
  if (parser.isSet(connectOption)) {
    auto* connectButton = window->findChild<QToolButton*>(QStringLiteral("toolButton_Lidar"));
    if (connectButton != nullptr) QTimer::singleShot(0, connectButton, &QToolButton::click);
  }
  if (parser.isSet(screenshotOption)) {
    const QString file = parser.value(screenshotOption);
    QTimer::singleShot(static_cast<int>(afterS * 1000), window.get(), [&window, file] {
      const QPixmap picture = window->grab();
      if (!picture.save(file)) {
        std::fprintf(stderr, "tovik16-viewer: cannot write the screenshot to %s\n",
                     qPrintable(file));
        QApplication::exit(1);
        return;
      }
      QApplication::exit(0);
    });
  }

  const int result = app.exec();
  window.reset();
  return result;
}
