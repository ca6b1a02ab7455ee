// planora: the desktop program. By default it opens its own straightening
// view; it can also run the rectification plug-in on a photo exactly as a
// host image editor does, through the plug-in library's exports, then show
// and save the straightened result.
//
//   planora [PHOTO]
//   planora --plugin-host [PHOTO]
//   planora --run-plugin [--save-result FILE] PHOTO
//
// --plugin-host opens the window that offers the plug-in in its Plug-ins
// menu (the view's Plug-ins menu opens it too).
// --run-plugin opens the plug-in's window at once; with --save-result the
// result is saved to FILE (which must not exist yet) and the program ends:
// exit status 0 saved, 1 no result, 2 the photo or the plug-in failed.
#include <sys/stat.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "apps/planora/main_window.h"
#include "apps/planora/view/straighten_window.h"
#include "apps/host/plugin_host.h"

namespace {

const char* const kUsage =
    "Usage: planora [PHOTO]\n"
    "       planora --plugin-host [PHOTO]\n"
    "       planora --run-plugin [--save-result FILE] PHOTO\n"
    "Opens PHOTO in the straightening view: drag the corners onto the object, watch the\n"
    "preview, export. --plugin-host opens PHOTO in the window that offers the Planora\n"
    "plug-in in its Plug-ins menu; --run-plugin opens the plug-in at once; --save-result\n"
    "saves its result to FILE (which must not exist) and ends the program.\n"
    "PLANORA_PLUGIN names another plug-in library.\n";

bool HaveDisplay() {
  for (const char* name : {"QT_QPA_PLATFORM", "DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* v = std::getenv(name);
    if (v != nullptr && v[0] != '\0') return true;
  }
  return false;
}

bool Exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Decided before Qt starts: without a display Qt would abort.
  bool help = false, unattended = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help" || a == "-h") help = true;
    if (a == "--save-result") unattended = true;
  }
  if (help) {
    std::cout << kUsage;
    return 0;
  }
  if (!HaveDisplay()) {
    if (!unattended) {
      std::cerr << "planora: no display to open windows on (DISPLAY is not set); a run without one needs\n"
                   "--run-plugin --save-result FILE, with the plug-in's steps in PLANORA_SCRIPT\n";
      return 2;
    }
    // A scripted run needs no screen: Qt draws offscreen, and the plug-in's
    // window follows the script (or, without one, closes at once).
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("PLANORA_SCRIPT", "", 0);
  }
  QApplication app(argc, argv);
  QApplication::setApplicationName("Planora");
  bool runPlugin = false, pluginHost = false;
  QString saveResult, photo;
  const QStringList args = QApplication::arguments();
  for (int i = 1; i < args.size(); ++i) {
    const QString& a = args[i];
    if (a == "--run-plugin") {
      runPlugin = true;
    } else if (a == "--plugin-host") {
      pluginHost = true;
    } else if (a == "--save-result" && i + 1 < args.size()) {
      saveResult = args[++i];
    } else if (a.startsWith("-") || !photo.isEmpty()) {
      std::cerr << "planora: unexpected argument " << a.toStdString() << "\n" << kUsage;
      return 2;
    } else {
      photo = a;
    }
  }
  if ((runPlugin || !saveResult.isEmpty()) && photo.isEmpty()) {
    std::cerr << "planora: --run-plugin and --save-result need a photo\n" << kUsage;
    return 2;
  }
  if (!saveResult.isEmpty() && Exists(saveResult.toStdString())) {
    std::cerr << "planora: " << saveResult.toStdString() << " exists already; it is not overwritten\n";
    return 2;
  }

  // The plug-in's host window, opened from the command line or from the
  // view's Plug-ins menu.
  const std::string program = argv[0];
  auto makeHost = [program]() {
    std::unique_ptr<planora::TPluginLibrary> plugin;
    QString problem;
    try {
      plugin = std::make_unique<planora::TPluginLibrary>(planora::FindPluginLibrary(program.c_str()));
    } catch (const std::exception& e) {
      problem = QString::fromStdString(e.what());
      std::cerr << "planora: " << e.what() << "\n";
    }
    return std::make_unique<planora::TMainWindow>(std::move(plugin), problem);
  };

  if (!runPlugin && !pluginHost && saveResult.isEmpty()) {
    planora::TStraightenWindow view;
    view.OnOpenPluginHost = [&makeHost](const QString& path) {
      planora::TMainWindow* host = makeHost().release();
      host->setAttribute(Qt::WA_DeleteOnClose);
      host->show();
      if (!path.isEmpty()) host->OpenPhoto(path);
    };
    view.show();
    if (!photo.isEmpty()) view.OpenPhoto(photo);
    return QApplication::exec();
  }

  std::unique_ptr<planora::TMainWindow> hostWindow = makeHost();
  planora::TMainWindow& window = *hostWindow;
  window.Interactive = saveResult.isEmpty();
  window.show();
  if (!photo.isEmpty() && !window.OpenPhoto(photo) && runPlugin) return 2;
  if (runPlugin) {
    if (!window.PluginAction()->isEnabled()) return 2;
    QTimer::singleShot(0, &window, [&] {
      window.PluginAction()->trigger();
      if (saveResult.isEmpty()) return;
      if (!window.HasResult()) {
        QApplication::exit(1);
      } else {
        QApplication::exit(window.SaveResult(saveResult) ? 0 : 2);
      }
    });
  }
  return QApplication::exec();
}
