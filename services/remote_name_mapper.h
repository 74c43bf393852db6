#ifndef KORVO_SERVICES_REMOTE_NAME_MAPPER_H_
#define KORVO_SERVICES_REMOTE_NAME_MAPPER_H_

#include <string>

#include "core/export.h"

// Translates names and paths between what the local drive shows and what a
// service stores. The out-parameter forms always fill |*out| (with the input
// when nothing changed) and report whether anything changed; the in-place
// forms change the string only when needed.
class KORVO_EXPORT RemoteNameMapper {
 public:
  virtual void MapNameToRemote(std::string* in_out) = 0;
  virtual void MapNameToRemote(const std::string& in, std::string* out, bool* unchanged) = 0;
  virtual void MapPathToRemote(std::string* in_out) = 0;
  virtual void MapPathToRemote(const std::string& in, std::string* out, bool* unchanged) = 0;
  virtual void UnmapNameToLocal(std::string* in_out) = 0;
  virtual void UnmapNameToLocal(const std::string& in, std::string* out, bool* unchanged) = 0;
  virtual void UnmapPathToLocal(std::string* in_out) = 0;
  virtual void UnmapPathToLocal(const std::string& in, std::string* out, bool* unchanged) = 0;

 protected:
  virtual ~RemoteNameMapper() = default;
};

#endif  // KORVO_SERVICES_REMOTE_NAME_MAPPER_H_
