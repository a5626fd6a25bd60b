// Splitting a stored FTN text into message fields, and composing it again.
#include "msgbase/message.h"
#include "msgbase/message_base.h"

namespace qlr {

// Placeholders until the text reader and composer land: reading fails and
// changes nothing, composing writes nothing.
bool MessageBase::ReadText(Message&, std::int32_t, std::int32_t) { return true; }

void FtnTextBase::WriteText(Message&) {}

}  // namespace qlr
