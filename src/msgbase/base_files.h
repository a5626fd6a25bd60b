// Whole-base file operations: copy every file of a base elsewhere, and
// empty a base in place. Each takes the base's reference (base_reference.h)
// and finds the base's files through its format's descriptor; the forms
// that take a spec text parse it and forward.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "msgbase/base_reference.h"
#include "msgbase/copy_manifest.h"
#include "msgbase/message_base.h"
#include "platform/status.h"

namespace qlr {

// Copies the files of the base into `destination` (created with missing
// parents) under their own names, and makes the copy durable. The message
// files of a *.MSG directory are linked where the file system allows (see
// CopyOptions::link), copied where not. `copied`,
// when given, receives every file copied with its status at copy time.
// True on FAILURE: the destination could not be made, the base names no
// known format, a file of the base that exists was not copied completely,
// or the copy could not be made durable; `error`, when given, then says
// which file or directory failed and why.
[[nodiscard]] bool CopyBaseFiles(const BaseReference& base, std::string_view destination,
                                 CopyManifest* copied = nullptr, Status* error = nullptr);
[[nodiscard]] bool CopyBaseFiles(std::string_view spec, std::string_view destination,
                                 CopyManifest* copied = nullptr, Status* error = nullptr);

// Deletes the base's messages and leaves an empty base of the same format
// in place, in *emptied (when given) in state Created. With `copied` (what
// CopyBaseFiles recorded), only the files still as they were copied are
// deleted: one that arrived or changed after the copy stays in the base.
// Not ok when anything of it failed (a message file that could not be
// deleted, a base file that could not be rewritten), the format is unknown
// or this build cannot empty its bases; the status then says what failed
// as far as the system told, never without a path or a detail.
Status EraseBase(const BaseReference& base, const CopyManifest* copied,
                 std::unique_ptr<MessageBase>* emptied);
Status EraseBase(std::string_view spec, const CopyManifest* copied,
                 std::unique_ptr<MessageBase>* emptied);
// The same for callers that need no reason: the emptied base, null on
// failure.
std::unique_ptr<MessageBase> EraseBase(std::string_view spec, const CopyManifest* copied = nullptr);

// The files of a file-set base (JAM, Squish, packet) that are symbolic
// links. Such a base is neither counted nor copied nor emptied: its files
// are written in place, and through a link they would be read from and
// written to whatever file it names.
std::vector<std::string> LinkedBaseFiles(const BaseReference& base);

// Before a base is counted for a rotation: puts back what an erase of it
// that was killed left aside (see the format's eraser), so that this run
// rotates it. Only the run that holds the run lock may call it: the files
// aside belong to a dead run then, not to one at work. Not ok when
// something stays aside (its name was taken meanwhile); the erase then
// reports it.
Status RecoverInterruptedErase(const BaseReference& base);
Status RecoverInterruptedErase(std::string_view spec);

// Before a base is counted, for a copy of it in `copy_directory` that was
// published but whose erase a killed run never finished: removes from the
// base what is still the very file the copy holds by a link. The same
// ownership rule as above. Not ok when such a file stays.
Status FinishSharedErase(const BaseReference& base, std::string_view copy_directory);
Status FinishSharedErase(std::string_view spec, std::string_view copy_directory);

}  // namespace qlr
