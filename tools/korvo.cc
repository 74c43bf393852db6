// korvo: the command-line program over libkorvo_core.

#include <QCoreApplication>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/infra/logger.h"
#include "tools/commands.h"

namespace {

struct Command {
  const char* name;
  const char* usage;
  const char* summary;
  int (*run)(const std::vector<std::string>& args);
};

const Command kCommands[] = {
    {"logcat", "logcat FILE...",
     "print the text of daily log files; exit status 1 if a record is damaged",
     &korvo::RunLogcat},
    {"hash", "hash --type TYPE FILE...",
     "print each file's content hash ('-' is standard input); exit status 1 if a file "
     "cannot be read\n"
     "                             TYPE: vt, yandex, dropbox, google, internal, onedrive, s3",
     &korvo::RunHash},
    {"http", "http get URL [OPTIONS]",
     "one exchange through the request engine with its network settings; the\n"
     "                             body goes to -o FILE or standard output, \"HTTP <status> <result>\"\n"
     "                             to standard error; exit status 0 for SUCCEEDED, CREATED,\n"
     "                             NO_CONTENT, else 1\n"
     "  http put URL FILE [OPTIONS]\n"
     "                             OPTIONS: --range BEGIN-END, -o FILE, --timeout S, --insecure,\n"
     "                             --proxy-mode none|system|manual, --proxy-type http|socks4|socks5,\n"
     "                             --proxy HOST:PORT, --proxy-user U, --proxy-password P, --ca-file PEM",
     &korvo::RunHttp},
    {"account", "account add s3 NAME ...",
     "keep an account in the program's settings; the secret comes from standard input\n"
     "  account add webdav NAME --server URL [--fallback URL] --login LOGIN\n"
     "  account list\n"
     "  account remove NAME\n"
     "                             add s3 NAME --endpoint HOST[:PORT] --bucket BUCKET --region REGION\n"
     "                             --access-key ID [--service generic|amazon|skiff] [--root PATH]",
     &korvo::RunAccount},
};

void PrintHelp(FILE* out) {
  std::fprintf(out,
               "usage: korvo COMMAND [ARGS...]\n"
               "       korvo --help\n\n"
               "commands:\n");
  for (const Command& command : kCommands) {
    std::fprintf(out, "  %-26s %s\n", command.usage, command.summary);
  }
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("korvo"));

  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 ||
      std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "help") == 0) {
    PrintHelp(argc < 2 ? stderr : stdout);
    return argc < 2 ? 2 : 0;
  }
  const Command* command = nullptr;
  for (const Command& candidate : kCommands) {
    if (std::strcmp(argv[1], candidate.name) == 0) command = &candidate;
  }
  if (command == nullptr) {
    std::fprintf(stderr, "korvo: unknown command '%s'\n\n", argv[1]);
    PrintHelp(stderr);
    return 2;
  }
  const std::vector<std::string> args(argv + 2, argv + argc);
  KLOG(Info) << "korvo " << command->name << ", " << args.size() << " argument(s)";
  const int status = command->run(args);
  KLOG(Info) << "korvo " << command->name << " finished with status " << status;
  LoggerWrapper::FinishWriteLogs();
  return status;
}
