// The quillor message-base library: JAM, Squish, *.MSG directories and
// type-2 packets behind one object model.
//
// Compile with C++20 and the include directories of the package (CMake:
// find_package(quillor) and quillor::msgbase; pkg-config: quillor), then
//
//   #include <quillor/quillor.h>
//
//   qlr::InstallBuiltInFormats();              // once, before any base
//   auto base = qlr::OpenBase("!/fido/jam/local");  // opens, or creates
//   qlr::Message message;
//   for (std::int32_t n = 1; base && n <= base->Count(); ++n)
//     if (!base->ReadMessage(n, message)) use(message.From, message.Subject);
//
// The public interface is what the headers below declare:
//
//   msgbase/formats/all_formats.h  InstallBuiltInFormats: the four formats
//   msgbase/base_reference.h       base specs ("!path", "$path", "#path",
//                                  "Ppath") parsed into a BaseReference
//   msgbase/open_base.h            OpenBase
//   msgbase/message_base.h         MessageBase: Count, ReadMessage,
//                                  WriteMessage, AppendMessage, batches,
//                                  DeleteMessage
//   msgbase/message.h              Message, the record every format fills
//   msgbase/base_files.h           CopyBaseFiles and EraseBase, whole bases
//   msgbase/ftn_address.h          zone:net/node.point addresses
//   msgbase/ftn_date.h             FTS dates and DOS packed times
//   platform/status.h              Status, why a file operation failed
//   platform/process_setup.h       IgnoreFileSizeSignal, for a program
//                                  that copies bases
//
// Operations that return bool return true on FAILURE. The library reads
// and writes through the host's file system by itself: no set-up is needed
// beyond InstallBuiltInFormats. The other installed headers come along
// because the ones above include them (strings, streams, paths); their
// contents may change from one version to the next.
#pragma once

#include "msgbase/base_files.h"
#include "msgbase/formats/all_formats.h"
#include "msgbase/ftn_address.h"
#include "msgbase/ftn_date.h"
#include "msgbase/message.h"
#include "msgbase/message_base.h"
#include "msgbase/open_base.h"
#include "platform/process_setup.h"
#include "platform/status.h"
