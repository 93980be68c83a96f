#include "runtime/qt/qt_platform.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QPluginLoader>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <vector>

#if defined(__linux__) || (defined(__unix__) && !defined(__APPLE__))
#define VELTRANE_QT_CHECKS_DISPLAY 1
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>
#endif

namespace rt {
namespace {

#ifdef VELTRANE_QT_CHECKS_DISPLAY

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Platforms that draw into memory or straight to the hardware need no display
// server; their plugin is all they need.
bool NeedsNoServer(std::string_view platform) {
  for (std::string_view name :
       {"offscreen", "minimal", "minimalegl", "vnc", "linuxfb", "eglfs", "vkkhrdisplay"})
    if (platform == name) return true;
  return false;
}

// An open connection to the X display, or none.
class XConnection {
 public:
  XConnection() = default;
  XConnection(const XConnection&) = delete;
  XConnection& operator=(const XConnection&) = delete;
  ~XConnection() { Close(); }
  // "" when the display answered; the connection then stays open.
  std::string Open() {
    Close();
    const std::string display = Env("DISPLAY");
    if (display.empty()) return "DISPLAY is not set";
    int screen = 0;
    connection_ = xcb_connect(display.c_str(), &screen);
    if (xcb_connection_has_error(connection_) == 0) return "";
    Close();
    return "the X display " + display + " does not answer";
  }
  void Close() {
    if (connection_) xcb_disconnect(connection_);
    connection_ = nullptr;
  }

 private:
  xcb_connection_t* connection_ = nullptr;
};

std::string WaylandProblem() {
  std::string socketPath = Env("WAYLAND_DISPLAY");
  if (socketPath.empty()) return "WAYLAND_DISPLAY is not set";
  if (socketPath.front() != '/') {
    const std::string runtimeDir = Env("XDG_RUNTIME_DIR");
    if (runtimeDir.empty()) return "XDG_RUNTIME_DIR is not set";
    socketPath = runtimeDir + "/" + socketPath;
  }
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.size() >= sizeof(address.sun_path)) return "the Wayland socket path is too long";
  socketPath.copy(address.sun_path, socketPath.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const bool answered =
      fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  if (fd >= 0) ::close(fd);
  return answered ? "" : "the Wayland display " + socketPath + " does not answer";
}

QStringList PluginFolders() {
  QStringList folders;
  if (const std::string extra = Env("QT_QPA_PLATFORM_PLUGIN_PATH"); !extra.empty())
    folders << QString::fromLocal8Bit(extra.c_str());
  for (const QString& path : QCoreApplication::libraryPaths()) folders << path + "/platforms";
  return folders;
}

// Finds the plugin that serves platform the way Qt does, by the keys in its
// metadata, and loads it so a missing library shows here and not in Qt.
std::string PluginProblem(const QString& platform) {
  for (const QString& folder : PluginFolders()) {
    const QDir dir(folder);
    for (const QString& file : dir.entryList(QDir::Files)) {
      QPluginLoader loader(dir.absoluteFilePath(file));
      const QJsonArray keys =
          loader.metaData().value("MetaData").toObject().value("Keys").toArray();
      bool serves = false;
      for (const auto& key : keys)
        serves = serves || key.toString().compare(platform, Qt::CaseInsensitive) == 0;
      if (!serves) continue;
      if (loader.load()) return "";
      return "the Qt platform plugin " + platform.toStdString() + " does not load (" +
             loader.errorString().toStdString() + ")";
    }
  }
  return "the Qt platform plugin " + platform.toStdString() + " is not installed";
}

std::string PlatformProblem(const std::string& entry, XConnection& x) {
  const std::string name = entry.substr(0, entry.find(':'));  // "xcb:option=value"
  if (name.empty()) return "QT_QPA_PLATFORM names no platform";
  std::string problem;
  if (name == "xcb")
    problem = x.Open();
  else if (name.rfind("wayland", 0) == 0)
    problem = WaylandProblem();
  else if (!NeedsNoServer(name))
    return "the Qt platform " + name + " is not supported here";
  if (problem.empty()) problem = PluginProblem(QString::fromStdString(name));
  return problem;
}

#endif  // VELTRANE_QT_CHECKS_DISPLAY

}  // namespace

std::string StartQtPlatform(const std::function<void()>& start) {
#ifdef VELTRANE_QT_CHECKS_DISPLAY
  XConnection x;
  std::vector<std::string> candidates;
  if (const std::string requested = Env("QT_QPA_PLATFORM"); !requested.empty()) {
    for (std::size_t begin = 0; begin <= requested.size();) {
      const std::size_t end = std::min(requested.find(';', begin), requested.size());
      if (end > begin) candidates.push_back(requested.substr(begin, end - begin));
      begin = end + 1;
    }
  } else {
    if (!Env("WAYLAND_DISPLAY").empty() && PlatformProblem("wayland", x).empty())
      candidates.push_back("wayland");
    candidates.push_back("xcb");
  }
  std::string problems;
  for (const std::string& candidate : candidates) {
    const std::string problem = PlatformProblem(candidate, x);
    if (problem.empty()) {
      ::setenv("QT_QPA_PLATFORM", candidate.c_str(), 1);
      start();
      return "";
    }
    problems += (problems.empty() ? "" : "; ") + problem;
  }
  return problems.empty() ? "QT_QPA_PLATFORM names no platform" : problems;
#else
  start();
  return "";
#endif
}

}  // namespace rt
