#include "msgbase/open_base.h"

#include "util/paths.h"

namespace qlr {

Status OpenBase(const BaseReference& reference, std::unique_ptr<MessageBase>* base) {
  base->reset();
  // A format without an opener cannot be opened by this build; its files
  // can still be copied.
  if (reference.format == nullptr || reference.format->open == nullptr) {
    return Status(StatusKind::kInvalidArgument, "", "");
  }
  return reference.format->open(reference.location, base);
}

Status OpenBase(std::string_view spec, std::unique_ptr<MessageBase>* base) {
  return OpenBase(ParseBaseReference(spec), base);
}

std::unique_ptr<MessageBase> OpenBase(std::string_view spec) {
  std::unique_ptr<MessageBase> base;
  (void)OpenBase(spec, &base);
  return base;
}

std::string BaseDirectoryOf(const BaseReference& base) {
  // The directory of a file set's files, or the directory of messages.
  return AddBackslash(JustPathName(base.format->layout == FileLayout::kDirectory
                                       ? base.location + std::string(base.format->message_mask)
                                       : base.location));
}

OpenCourse ForeseeOpenBase(const BaseReference& base) {
  if (base.format == nullptr || base.format->foresee == nullptr) return OpenCourse::kNotOpened;
  return base.format->foresee(base.location);
}

OpenCourse ForeseeOpenBase(std::string_view spec) {
  return ForeseeOpenBase(ParseBaseReference(spec));
}

}  // namespace qlr
