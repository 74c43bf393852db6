#ifndef KORVO_CORE_INFRA_STOPPABLE_H_
#define KORVO_CORE_INFRA_STOPPABLE_H_

#include "core/export.h"

// Something long-running that another thread may ask to stop.
class KORVO_EXPORT Stoppable {
 public:
  // Clears a stop request.
  virtual void Start() = 0;
  // Asks the work to stop; may be called from any thread.
  virtual void Stop() = 0;
  virtual ~Stoppable() = default;
};

#endif  // KORVO_CORE_INFRA_STOPPABLE_H_
