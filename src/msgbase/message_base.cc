#include "msgbase/message_base.h"

#include <limits>

#include "platform/compiler.h"
#include "platform/fault.h"
#include "util/files.h"
#include "util/paths.h"

namespace qlr {
namespace {

[[noreturn]] void AbstractCall(const void* caller) { RaiseRunError(kRunErrorAbstractCall, caller); }

}  // namespace

void MessageBase::GetOrigAddress(ShortString&) { AbstractCall(QLR_RETURN_ADDRESS()); }
void MessageBase::GetDestAddress(ShortString&) { AbstractCall(QLR_RETURN_ADDRESS()); }
void MessageBase::GetPassword(ShortString&) { AbstractCall(QLR_RETURN_ADDRESS()); }
void MessageBase::SetOrigAddress(std::string_view) { AbstractCall(QLR_RETURN_ADDRESS()); }
void MessageBase::SetDestAddress(std::string_view) { AbstractCall(QLR_RETURN_ADDRESS()); }
void MessageBase::SetPassword(std::string_view) { AbstractCall(QLR_RETURN_ADDRESS()); }

void MessageBase::TransferHeader(bool, Message&) {}

bool MessageBase::EnterState(std::string_view path, BaseState state) {
  const std::string directory = AddBackslash(JustPathName(path));
  if (!DirExists(directory)) {
    // The reason stays for the caller: a directory that cannot be made
    // (a name the system cannot take, no permission) is said so.
    if (Status made = MakePath(directory); !made) return Fail(std::move(made));
  }
  path_ = path;
  state_ = state;
  count_ = 0;
  return false;
}

bool MessageBase::Fail(Status status) {
  last_error_ = std::move(status);
  return true;
}

std::vector<std::int32_t> MessageBase::MessageNumbers() const {
  std::vector<std::int32_t> numbers;
  numbers.reserve(static_cast<std::size_t>(count_ > 0 ? count_ : 0));
  for (std::int64_t n = 1; n <= count_; ++n) numbers.push_back(static_cast<std::int32_t>(n));
  return numbers;
}

const Status& MessageBase::Damage() const {
  static const Status sound;
  return sound;
}

bool MessageBase::Open(std::string_view path) {
  (void)EnterState(path, BaseState::kOpened);
  return true;
}

bool MessageBase::Create(std::string_view path) {
  (void)EnterState(path, BaseState::kCreated);
  return true;
}

bool MessageBase::IsValidMsg(std::int32_t number) {
  return Usable() && number >= 1 && number <= count_;
}

bool MessageBase::ReadMessage(std::int32_t, Message&) {
  ResetStreams();
  return true;
}

bool MessageBase::WriteMessage(std::int32_t, Message&) {
  ResetStreams();
  return true;
}

bool MessageBase::AppendMessage(Message& message) {
  if (count_ == std::numeric_limits<std::int32_t>::max()) return true;
  return WriteMessage(count_ + 1, message);
}

bool MessageBase::BeginBatch() { return false; }

bool MessageBase::EndBatch() { return false; }

bool MessageBase::DeleteMessage(std::int32_t) {
  ResetStreams();
  return true;
}

void MessageBase::ResetStreams() {
  if (stream_) stream_->ClearError();
}

}  // namespace qlr
