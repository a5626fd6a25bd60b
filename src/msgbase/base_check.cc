#include "msgbase/base_check.h"

#include <optional>
#include <string>

#include "msgbase/checked_file.h"

namespace qlr {

void CheckReport::Add(std::int64_t number, std::string text) {
  if (full()) return;
  if (findings.size() == kMaxFindings) {
    findings.push_back(Finding{
        0, "more problems follow; the check lists the first " + std::to_string(kMaxFindings)});
    return;
  }
  findings.push_back(Finding{number, std::move(text)});
}

bool CheckedFile::Open(std::string_view path, std::string_view label, CheckReport* report) {
  label_ = std::string(label);
  report_ = report;
  const std::optional<FileStatus> status = Os().Stat(path);
  if (!status) {
    report->Add(0, label_ + " is missing");
    return false;
  }
  if (!status->is_regular) {
    report->Add(0, label_ + " is not a regular file");
    return false;
  }
  auto opened = Os().OpenFile(path, OpenMode::kRead);
  if (!opened) {
    report->Add(0, label_ + " cannot be opened: " + opened.status().ToString());
    return false;
  }
  handle_ = std::move(opened);
  if (const Status known = handle_->Size(&size_); !known) {
    report->Add(0, label_ + " cannot be examined: " + known.ToString());
    handle_.reset();
    return false;
  }
  return true;
}

bool CheckedFile::Read(std::uint64_t offset, std::span<std::uint8_t> out) {
  if (handle_ == nullptr) return false;
  std::size_t got = 0;
  if (const Status read = handle_->ReadAt(offset, out.data(), out.size(), &got); !read) {
    report_->Add(
        0, label_ + " cannot be read at offset " + std::to_string(offset) + ": " + read.ToString());
    return false;
  }
  if (got != out.size()) {
    report_->Add(0, label_ + " ended at offset " + std::to_string(offset + got) +
                        " while it was read (it shrank)");
    return false;
  }
  return true;
}

}  // namespace qlr
