#ifndef KORVO_CORE_PLATFORM_CPU_RELAX_H_
#define KORVO_CORE_PLATFORM_CPU_RELAX_H_

namespace platform {

// Tells the processor that the caller is spinning on a value another core
// will change: cheaper for the sibling hardware thread and for the memory
// order machinery than a bare loop.
inline void CpuRelax() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__) || defined(__arm__)
  __asm__ __volatile__("yield");
#endif
}

}  // namespace platform

#endif  // KORVO_CORE_PLATFORM_CPU_RELAX_H_
