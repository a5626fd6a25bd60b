// Splitting a raw FTN message text into the fields of a Message.
#pragma once

#include "msgbase/message.h"
#include "support/stream.h"

namespace qlr {

// Cuts the NUL bytes off the end of `text` (stored texts are often padded
// with them, and packets end every text with one).
void StripTrailingNuls(Stream& text);

// Reads the kludge lines of the head and the tear line, origin line and
// trailing control lines of the tail of message.Text into their fields
// and lists, and cuts those lines out of Text; the rest is the body. When
// memory for the cut cannot be had, Text keeps every line (the fields are
// filled all the same). SEEN-BY and PATH lines are cut and dropped,
// unless message.KeepRouting asks for them as the last TrailLines.
void SplitText(Message& message);

}  // namespace qlr
