#include "msgbase/empty_files_in_place.h"

namespace qlr {

bool WriteEmptyFilesInPlace(std::span<EmptyFileStep> steps) {
  for (EmptyFileStep& step : steps) {
    if (step.lock != nullptr) {
      const std::uint64_t end = static_cast<std::uint64_t>(step.at) + step.image.size();
      step.failed = step.lock->WriteAt(static_cast<std::uint64_t>(step.at), step.image) ||
                    (step.truncate && step.lock->Truncate(end)) || step.lock->Sync();
      continue;
    }
    BufferedFileStream& stream = *step.stream;
    stream.Seek(step.at);
    stream.Write(step.image.data(), step.image.size());
    if (step.truncate) stream.Truncate();
    stream.Flush();
    // The result is the stream's latched error, read below.
    if (step.sync == EmptyFileStep::Sync::kNow) static_cast<void>(stream.SyncToDisk());
  }
  // An erase is reported only once it is durable: a crash after the report
  // must not bring back messages that the next run copies again.
  for (const EmptyFileStep& step : steps) {
    if (step.lock == nullptr && step.sync == EmptyFileStep::Sync::kAtEnd) {
      static_cast<void>(step.stream->SyncToDisk());
    }
  }
  bool failed = false;
  for (EmptyFileStep& step : steps) {
    if (step.lock == nullptr) step.failed = !step.stream->Ok();
    failed = failed || step.failed;
  }
  return failed;
}

}  // namespace qlr
