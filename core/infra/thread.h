#ifndef KORVO_CORE_INFRA_THREAD_H_
#define KORVO_CORE_INFRA_THREAD_H_

#include <QThread>
#include <functional>
#include <string>
#include <thread>

#include "core/export.h"

namespace utils {

// A QThread that runs a function. Without a body it runs an event loop.
class KORVO_EXPORT Thread : public QThread {
  Q_OBJECT

 public:
  explicit Thread(std::function<void()> body = {}, QObject* parent = nullptr);
  ~Thread() override;

 protected:
  void run() override;

 private:
  std::function<void()> body_;
};

// Names |thread| for debuggers and logs "Thread name id: <id>, name: <name>".
KORVO_EXPORT void SetThreadName(std::thread& thread, const std::string& name);

}  // namespace utils

#endif  // KORVO_CORE_INFRA_THREAD_H_
