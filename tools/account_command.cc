// korvo account: the accounts this program keeps in its own settings, one
// group per account name ("accounts/NAME/..."): the kind, the service
// identity, the remote root path and the credential's persisted form, whose
// secrets are stored only protected.

#include <termios.h>
#include <unistd.h>

#include <QSettings>
#include <QStandardPaths>
#include <QVariantMap>
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/auth/auth_cookie_s3.h"
#include "core/auth/auth_cookie_webdav.h"
#include "core/auth/cloud_service_id.h"
#include "core/infra/logger.h"
#include "core/net/network_settings.h"
#include "core/net/url_processor_impl.h"
#include "core/settings/app_info.h"
#include "core/settings/settings.h"
#include "tools/commands.h"

namespace korvo {
namespace {

constexpr char kAccountsGroup[] = "accounts/";
// The protection of secrets at rest does not depend on this key; it is the
// key the credentials hand on to it.
constexpr char kProtectionKey[] = "korvo";

int Usage(const std::string& why) {
  if (!why.empty()) std::fprintf(stderr, "korvo: %s\n", why.c_str());
  std::fprintf(stderr,
               "usage: korvo account add s3 NAME --endpoint HOST[:PORT] --bucket BUCKET "
               "--region REGION\n"
               "                     --access-key ID [--service generic|amazon|skiff] "
               "[--root PATH]\n"
               "       korvo account add webdav NAME --server URL [--fallback URL] --login LOGIN\n"
               "       korvo account list\n"
               "       korvo account remove NAME\n"
               "The secret (S3 secret access key, WebDAV password) is read from standard input.\n");
  return 2;
}

int Fail(const std::string& why) {
  std::fprintf(stderr, "korvo: %s\n", why.c_str());
  return 1;
}

std::unique_ptr<utils::Settings> OpenSettings() {
  return std::make_unique<utils::Settings>(QSettings::UserScope,
                                           QString::fromUtf8(AppInfo::OrganizationName()),
                                           QString::fromUtf8(AppInfo::AppName()), nullptr);
}

std::string SettingsPath() {
  return QSettings(QSettings::UserScope, QString::fromUtf8(AppInfo::OrganizationName()),
                   QString::fromUtf8(AppInfo::AppName()))
      .fileName()
      .toStdString();
}

// A name is one settings group: no separators, no control characters.
bool ValidName(const std::string& name) {
  if (name.empty() || name.size() > 200) return false;
  for (unsigned char c : name) {
    if (c < 0x20 || c == 0x7f || c == '/' || c == '\\') return false;
  }
  return true;
}

QString Key(const std::string& name, const char* field) {
  return QString::fromUtf8((kAccountsGroup + name + "/" + field).c_str());
}

// One line of standard input without its line end; on a terminal prompted
// for without echo.
bool ReadSecret(const char* prompt, std::string* secret) {
  const bool terminal = isatty(STDIN_FILENO) == 1;
  termios saved{};
  if (terminal) {
    std::fprintf(stderr, "%s: ", prompt);
    std::fflush(stderr);
    if (tcgetattr(STDIN_FILENO, &saved) == 0) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
  }
  const bool got = static_cast<bool>(std::getline(std::cin, *secret));
  if (terminal) {
    tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fprintf(stderr, "\n");
  }
  if (!secret->empty() && secret->back() == '\r') secret->pop_back();
  return got && !secret->empty();
}

struct Flags {
  std::map<std::string, std::string> values;
  std::vector<std::string> positional;
};

// Parses "--name value" pairs of the names in |known|; a usage error's text
// otherwise.
std::string ParseFlags(const std::vector<std::string>& args, size_t from,
                       const std::vector<std::string>& known, Flags* flags) {
  for (size_t i = from; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      const std::string name = arg.substr(2);
      if (std::find(known.begin(), known.end(), name) == known.end()) {
        return "unknown option '" + arg + "'";
      }
      if (i + 1 >= args.size()) return arg + " needs a value";
      if (flags->values.count(name)) return arg + " given twice";
      flags->values[name] = args[++i];
      continue;
    }
    flags->positional.push_back(arg);
  }
  return {};
}

std::string Required(const Flags& flags, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    auto it = flags.values.find(name);
    if (it == flags.values.end() || it->second.empty()) return "--" + name + " is required";
  }
  return {};
}

// Stores |credential| under |name| (replacing an account of that name).
int Store(const std::string& name, const char* kind, CloudServiceId service,
          const std::string& root, AuthCookie* credential) {
  auto settings = OpenSettings();
  if (!settings->IsWritable()) {
    return Fail("cannot write the settings file " + SettingsPath());
  }
  const QVariant serialized = credential->Serialize(kProtectionKey);
  if (!serialized.isValid()) return Fail("could not protect the secret; nothing stored");
  const QString group = QString::fromUtf8((kAccountsGroup + name).c_str());
  settings->Remove(group);
  settings->SetValue(Key(name, "kind"), QString::fromUtf8(kind));
  settings->SetValue(Key(name, "service"), static_cast<int>(service));
  settings->SetValue(Key(name, "root"), QString::fromStdString(root));
  settings->SetValue(Key(name, "credential"), serialized);
  settings->Sync();
  if (settings->Value(Key(name, "kind")).toString() != QString::fromUtf8(kind)) {
    return Fail("cannot write the settings file " + SettingsPath());
  }
  KLOG(Info) << "Account \"" << name << "\" stored (" << kind << ").";
  return 0;
}

int AddS3(const std::string& name, const Flags& flags) {
  if (const std::string missing =
          Required(flags, {"endpoint", "bucket", "region", "access-key"});
      !missing.empty()) {
    return Usage(missing);
  }
  CloudServiceId service = CloudServiceId::kS3;
  if (auto it = flags.values.find("service"); it != flags.values.end()) {
    if (it->second == "generic") {
      service = CloudServiceId::kS3;
    } else if (it->second == "skiff") {
      service = CloudServiceId::kS3Skiff;
    } else if (it->second == "amazon") {
      service = CloudServiceId::kS3Amazon;
    } else {
      return Usage("bad service '" + it->second + "' (generic, amazon or skiff)");
    }
  }
  const std::string& endpoint = flags.values.at("endpoint");
  if (endpoint.find('/') != std::string::npos || endpoint.find("://") != std::string::npos) {
    return Usage("bad endpoint '" + endpoint + "' (HOST[:PORT], no scheme or path)");
  }
  std::string root;
  if (auto it = flags.values.find("root"); it != flags.values.end()) root = it->second;
  std::string secret;
  if (!ReadSecret("Secret access key", &secret)) {
    return Usage("no secret access key on standard input");
  }
  AuthCookieS3 credential(service, flags.values.at("bucket"), flags.values.at("access-key"),
                          secret, flags.values.at("region"), endpoint);
  return Store(name, "s3", service, root, &credential);
}

int AddWebDav(const std::string& name, const Flags& flags) {
  if (const std::string missing = Required(flags, {"server", "login"}); !missing.empty()) {
    return Usage(missing);
  }
  std::string fallback;
  if (auto it = flags.values.find("fallback"); it != flags.values.end()) fallback = it->second;
  std::string password;
  if (!ReadSecret("Password", &password)) return Usage("no password on standard input");
  const CloudServiceId service = CloudServiceId::kWebDAV;
  auto credential = std::make_shared<AuthCookieWebDAVBase>(
      service, flags.values.at("server"), flags.values.at("login"), password, fallback);
  password.assign(password.size(), '\0');

  if (!URLProcessor::GlobalOpen()) return Fail("the request engine did not start");
  NetworkSettings network;
  network.mode = NetworkSettings::kSystemProxy;
  URLProcessorImpl::SetSettings(network);
  URLProcessorFactoryImpl factory("korvo", "");
  std::shared_ptr<URLProcessor> processor = factory.CreateUrlProcessor(false);
  bool answered = false;
  if (processor && processor->Open(nullptr)) {
    processor->SetAuthInfo(credential);
    answered = credential->UpdateServerURL(processor);
    processor->Close();
  }
  const std::string server = credential->GetServer();
  const int stored = Store(name, "webdav", service, "", credential.get());
  URLProcessor::GlobalClose();
  if (stored != 0) return stored;
  std::printf("%s\n", server.c_str());
  if (!answered) return Fail("no server answered; the account keeps " + server);
  return 0;
}

int List() {
  auto settings = OpenSettings();
  const QMap<QString, QVariant> all = settings->GetAllValues();
  std::map<std::string, std::string> lines;  // sorted by name
  const QString prefix = QString::fromUtf8(kAccountsGroup);
  for (auto it = all.begin(); it != all.end(); ++it) {
    if (!it.key().startsWith(prefix) || !it.key().endsWith(QStringLiteral("/kind"))) continue;
    const QString group = it.key().left(it.key().size() - 5);
    const std::string name = group.mid(prefix.size()).toStdString();
    const std::string kind = it.value().toString().toStdString();
    const QVariantMap credential = all.value(group + QStringLiteral("/credential")).toMap();
    std::string where;
    if (kind == "s3") {
      // The plain fields of the persisted form: no secret is read.
      where = credential.value(QStringLiteral("domain")).toByteArray().toStdString() + "/" +
              credential.value(QStringLiteral("bucket")).toByteArray().toStdString();
    } else if (kind == "webdav") {
      where = credential.value(QStringLiteral("srv")).toString().toStdString();
    }
    lines[name] = name + "\t" + kind + "\t" + where;
  }
  for (const auto& [name, line] : lines) std::printf("%s\n", line.c_str());
  return 0;
}

int Remove(const std::string& name) {
  auto settings = OpenSettings();
  if (!settings->Contains(Key(name, "kind"))) return Fail("no account named '" + name + "'");
  if (!settings->IsWritable()) return Fail("cannot write the settings file " + SettingsPath());
  settings->Remove(QString::fromUtf8((kAccountsGroup + name).c_str()));
  settings->Sync();
  KLOG(Info) << "Account \"" << name << "\" removed.";
  return 0;
}

}  // namespace

int RunAccount(const std::vector<std::string>& args) {
  if (args.empty()) return Usage("account needs a verb");
  const std::string& verb = args[0];
  if (verb == "list") {
    if (args.size() != 1) return Usage("list takes no arguments");
    return List();
  }
  if (verb == "remove") {
    if (args.size() != 2) return Usage("remove takes one NAME");
    if (!ValidName(args[1])) return Usage("bad account name '" + args[1] + "'");
    return Remove(args[1]);
  }
  if (verb != "add") return Usage("unknown account verb '" + verb + "'");
  if (args.size() < 3) return Usage("add needs a kind and a NAME");
  const std::string& kind = args[1];
  const std::string& name = args[2];
  if (!ValidName(name)) {
    return Usage("bad account name '" + name + "' (no '/', '\\' or control characters)");
  }
  Flags flags;
  std::string error;
  if (kind == "s3") {
    error = ParseFlags(args, 3, {"endpoint", "bucket", "region", "access-key", "service", "root"},
                       &flags);
  } else if (kind == "webdav") {
    error = ParseFlags(args, 3, {"server", "fallback", "login"}, &flags);
  } else {
    return Usage("unknown account kind '" + kind + "' (s3 or webdav)");
  }
  if (!error.empty()) return Usage(error);
  if (!flags.positional.empty()) return Usage("unexpected argument '" + flags.positional[0] + "'");
  return kind == "s3" ? AddS3(name, flags) : AddWebDav(name, flags);
}

}  // namespace korvo
