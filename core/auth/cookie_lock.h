#ifndef KORVO_CORE_AUTH_COOKIE_LOCK_H_
#define KORVO_CORE_AUTH_COOKIE_LOCK_H_

#include <QMutex>

#if defined(__SANITIZE_THREAD__)
#define KORVO_COOKIE_LOCK_ANNOTATE 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define KORVO_COOKIE_LOCK_ANNOTATE 1
#endif
#endif

#ifdef KORVO_COOKIE_LOCK_ANNOTATE
extern "C" void __tsan_acquire(void* addr);
extern "C" void __tsan_release(void* addr);
#endif

// Holds a credential's QMutex for one scope. A contended QMutex waits inside
// Qt's (uninstrumented) library, where the thread sanitizer cannot see it:
// under that sanitizer the lock tells it what it orders.
class CookieLock {
 public:
  explicit CookieLock(QMutex* mutex) : mutex_(mutex) {
    mutex_->lock();
#ifdef KORVO_COOKIE_LOCK_ANNOTATE
    __tsan_acquire(mutex_);
#endif
  }
  ~CookieLock() {
#ifdef KORVO_COOKIE_LOCK_ANNOTATE
    __tsan_release(mutex_);
#endif
    mutex_->unlock();
  }
  CookieLock(const CookieLock&) = delete;
  CookieLock& operator=(const CookieLock&) = delete;

 private:
  QMutex* const mutex_;
};

#endif  // KORVO_CORE_AUTH_COOKIE_LOCK_H_
