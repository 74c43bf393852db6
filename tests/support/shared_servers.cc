#include "tests/support/shared_servers.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>
#include <mutex>
#include <sstream>

#include "tests/support/test_env.h"

namespace testing_env {

namespace {

constexpr char kRunDir[] = KORVO_BINARY_DIR "/test-run";

SharedServerInfo Load(const std::string& kind) {
  SharedServerInfo info;
  info.kind = kind;
  const std::string state = std::string(kRunDir) + "/servers/" + kind + ".json";
  QFile file(QString::fromStdString(state));
  if (!file.open(QIODevice::ReadOnly)) {
    info.error = "the shared server '" + kind + "' is not running (no " + state +
                 "). Run the tests through ctest (fixture '" + kind +
                 "', test fixture." + kind + ".start), or start it by hand: python3 " +
                 KORVO_SOURCE_DIR "/tests/support/shared_servers.py start " + kind + " " +
                 kRunDir;
    return info;
  }
  const QJsonObject object = QJsonDocument::fromJson(file.readAll()).object();
  for (const QJsonValue& port : object.value(QStringLiteral("ports")).toArray()) {
    info.ports.push_back(port.toInt());
  }
  info.dir = object.value(QStringLiteral("dir")).toString().toStdString();
  info.ca = object.value(QStringLiteral("ca")).toString().toStdString();
  if (info.ports.empty()) info.error = state + " names no port";
  return info;
}

}  // namespace

std::string SharedServerInfo::Url(const std::string& path, size_t index) const {
  return "http://127.0.0.1:" + std::to_string(port(index)) + path;
}

const SharedServerInfo& SharedServer(const std::string& kind) {
  static std::mutex mutex;
  static std::map<std::string, SharedServerInfo> loaded;
  std::lock_guard<std::mutex> lock(mutex);
  auto it = loaded.find(kind);
  if (it == loaded.end()) it = loaded.emplace(kind, Load(kind)).first;
  return it->second;
}

std::string NginxAccessLog() {
  const SharedServerInfo& nginx = SharedServer("nginx");
  return nginx.ok() ? ReadFile(nginx.dir + "/access.log") : std::string();
}

std::vector<std::string> NginxAccessLogLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(NginxAccessLog());
  std::string line;
  while (std::getline(in, line)) {
    const size_t begin = line.find('"');
    const size_t end = begin == std::string::npos ? begin : line.find('"', begin + 1);
    if (end != std::string::npos && line.substr(begin, end - begin).find(text) != std::string::npos) {
      lines.push_back(line);
    }
  }
  return lines;
}

}  // namespace testing_env
