// Between a Squish message header and the common message record.
#include "msgbase/message.h"
#include "msgbase/squish/squish_base.h"

namespace qlr {
namespace {

// The common record keeps a DOS date-time with the time in the low half
// and the date in the high half; the Squish header stores the date word
// first. The exchange is its own inverse.
std::uint32_t SwapHalves(std::uint32_t value) { return (value >> 16) | (value << 16); }

}  // namespace

void SquishBase::TransferHeader(bool to_message, Message& m) {
  MessageBase::TransferHeader(to_message, m);
  SquishMsgHeader& h = msg_header_;
  if (to_message) {
    m.Attr = h.attr;
    m.TimesRead = (h.attr & kSquishAttrRead) != 0 ? 1 : 0;
    // The decoder took each text up to its NUL; the fields cut to width.
    m.From = h.from;
    m.To = h.to;
    m.Subject = h.subj;
    m.Date = h.ftsc_date;
    m.OrigZone = h.orig.zone;
    m.OrigNet = h.orig.net;
    m.OrigNode = h.orig.node;
    m.OrigPoint = h.orig.point;
    m.DestZone = h.dest.zone;
    m.DestNet = h.dest.net;
    m.DestNode = h.dest.node;
    m.DestPoint = h.dest.point;
    m.DateWritten = SwapHalves(h.date_written);
    m.DateArrived = SwapHalves(h.date_arrived);
    m.UtcOffset = h.utc_ofs;
    m.ReplyTo = h.reply_to;
    m.Replies = h.replies;
    // The id the base will hand out next, not the frame's own: that is
    // what a reader of this base is told to use for a new message.
    m.UMsgId = base_header_.uid;
    return;
  }
  h.attr = m.Attr;
  // Only the low byte of the counter decides, as a byte-sized counter
  // that wrapped to 0 also means unread.
  if ((m.TimesRead & 0xFF) != 0) {
    h.attr |= kSquishAttrRead;
  } else {
    h.attr &= ~kSquishAttrRead;
  }
  h.from = m.From.str();
  h.to = m.To.str();
  h.subj = m.Subject.str();
  h.ftsc_date = m.Date.str();
  h.orig = SquishAddress{m.OrigZone, m.OrigNet, m.OrigNode, m.OrigPoint};
  h.dest = SquishAddress{m.DestZone, m.DestNet, m.DestNode, m.DestPoint};
  h.date_written = SwapHalves(m.DateWritten);
  h.date_arrived = SwapHalves(m.DateArrived);
  h.utc_ofs = m.UtcOffset;
  h.reply_to = m.ReplyTo;
  h.replies = m.Replies;
  h.umsg_id = m.UMsgId;
}

}  // namespace qlr
