// Whole-base file operations: copy every file of a base elsewhere, and
// empty a base in place. Both read a BaseSpec as OpenBase does.
#pragma once

#include <memory>
#include <string_view>

#include "msgbase/message_base.h"

namespace qlr {

// Copies the files of the base into `destination` (created with missing
// parents) under their own names, and makes the copy durable. True on
// FAILURE: the destination could not be made, `spec` names no known
// format, or a file of the base that exists was not copied completely.
[[nodiscard]] bool CopyBaseFiles(std::string_view spec, std::string_view destination);

// Deletes the base's messages and leaves an empty base of the same format
// in place; returns it in state Created. With `copied_to` (the directory
// CopyBaseFiles filled), only the messages found there unchanged are
// deleted: one that arrived or changed after the copy stays in the base.
// Null when anything of it failed (a message file that could not be
// deleted, a base file that could not be rewritten) or the format is
// unknown.
std::unique_ptr<MessageBase> EraseBase(std::string_view spec, std::string_view copied_to = {});

}  // namespace qlr
