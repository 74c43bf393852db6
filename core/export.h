#ifndef KORVO_CORE_EXPORT_H_
#define KORVO_CORE_EXPORT_H_

// Marks the classes and functions that form the boundary of libkorvo_core.
// Everything else is built with hidden visibility.
#define KORVO_EXPORT __attribute__((visibility("default")))

#endif  // KORVO_CORE_EXPORT_H_
