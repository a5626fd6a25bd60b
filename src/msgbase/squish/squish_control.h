// The control information of a Squish message and the text that follows
// it.
//
// A Squish frame keeps the kludge lines apart from the text, right after
// the message header: each line begins with ^A (0x01) and has no line end,
// and the block ends with one NUL. The text after it holds the body, tear
// line, origin line and trailing control lines, each composed line ended
// by a CR, and ends with a NUL of its own.
#pragma once

#include <string>
#include <string_view>

#include "msgbase/message.h"

namespace qlr {

// Files the lines of a control block (its bytes as stored, terminator
// included) into the fields and Kludges of `message`.
void ParseSquishControl(std::string_view block, Message& message);

// The control block of `message`, its terminating NUL included. Netmail
// (no Area) carries its point numbers and INTL here; echomail does not.
std::string ComposeSquishControl(const Message& message);

// The stored text of `message`: Text from its start, the tear line, the
// origin line (for echomail or a message with an origin), the trailing
// control lines and a NUL. False when Text cannot be read.
bool ComposeSquishText(Message& message, std::string* out);

}  // namespace qlr
