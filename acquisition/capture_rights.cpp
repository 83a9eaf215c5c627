#include "acquisition/capture_rights.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace tovik::capture {

namespace {

constexpr int kCapNetRaw = 13;  // linux/capability.h
constexpr const char* kInstalledViewer = "/usr/bin/tovik16-viewer";

std::string executablePath() {
  char buffer[4096];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  return n > 0 ? std::string(buffer, size_t(n)) : std::string(kInstalledViewer);
}

// A path as a shell word: quoted when it holds anything but the usual path characters.
std::string shellWord(const std::string& path) {
  const bool plain = path.find_first_not_of(
                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                         "0123456789/._+-") == std::string::npos;
  if (plain) return path;
  std::string quoted = "'";
  for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

bool statusGrantsNetRaw(const std::string& procStatus) {
  std::istringstream lines(procStatus);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.compare(0, 7, "CapEff:") != 0) continue;
    std::istringstream field(line.substr(7));
    std::string hex;
    field >> hex;
    if (hex.empty() || hex.size() > 16 ||
        hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      return false;
    }
    return (std::strtoull(hex.c_str(), nullptr, 16) >> kCapNetRaw) & 1u;
  }
  return false;
}

std::string captureRightsHint() {
  std::ifstream status("/proc/self/status");
  const std::string text((std::istreambuf_iterator<char>(status)),
                         std::istreambuf_iterator<char>());
  if (statusGrantsNetRaw(text)) return {};
  const std::string exe = executablePath();
  std::string hint =
      "\nTo capture without root, give the program the capture rights once, as root:\n"
      "  setcap cap_net_raw,cap_net_admin+eip " +
      shellWord(exe);
  if (exe == kInstalledViewer) hint += "\nor answer yes to: dpkg-reconfigure tovik16-studio";
  return hint;
}

}  // namespace tovik::capture
