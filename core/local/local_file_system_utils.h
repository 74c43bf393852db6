#ifndef KORVO_CORE_LOCAL_LOCAL_FILE_SYSTEM_UTILS_H_
#define KORVO_CORE_LOCAL_LOCAL_FILE_SYSTEM_UTILS_H_

#include "core/export.h"
#include "core/local/invalid_symbols_mapping.h"

// The local disk side.
class KORVO_EXPORT LocalFileSystemUtils {
 public:
  LocalFileSystemUtils() = delete;

  // What the Windows disk cannot store in names, and the stubs that stand
  // for it: "\\" / : * ? " < > | and the codes 0x00 to 0x1F.
  static const InvalidSymbolsMapping::Mapping kInvalidSymbolsStaticMapping;
  static const InvalidSymbolsMapping::Unrolled kInvalidSymbolsStaticMappingUnrolled;
  // A blank and a full stop, which Windows drops from the end of a name.
  static const InvalidSymbolsMapping::Mapping kInvalidSymbolsAtEndStaticMapping;
};

#endif  // KORVO_CORE_LOCAL_LOCAL_FILE_SYSTEM_UTILS_H_
