#include "platform/status.h"

namespace qlr {

std::string Status::ToString() const {
  if (ok()) return "ok";
  std::string text = path_;
  if (!text.empty() && !detail_.empty()) text += ": ";
  text += detail_;
  if (text.empty()) text = "unknown error";
  return text;
}

}  // namespace qlr
