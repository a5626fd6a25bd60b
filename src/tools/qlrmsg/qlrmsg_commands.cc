#include "tools/qlrmsg/qlrmsg_commands.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "msgbase/file_set_check.h"
#include "msgbase/format_registry.h"
#include "msgbase/message.h"
#include "msgbase/open_base.h"
#include "platform/console.h"
#include "platform/platform.h"
#include "platform/terminal.h"
#include "tools/qlrmsg/message_listing.h"
#include "tools/qlrmsg/plan_command.h"
#include "util/files.h"

namespace qlr::qlrmsg {
namespace {

// The help before and after the paragraph on base specs, which names the
// installed formats (SpecHelp).
constexpr std::string_view kUsageCommands =
    "usage: qlrmsg list SPEC\n"
    "       qlrmsg show SPEC N\n"
    "       qlrmsg copy SRC DST\n"
    "       qlrmsg check SPEC\n"
    "       qlrmsg plan [/c|/p] [CTL]\n"
    "       qlrmsg --help\n";
constexpr std::string_view kUsageDetails =
    "\n"
    "list  prints one line per message that can be read, in number order:\n"
    "      number, From, To, Subject and Date separated by TABs (a TAB, CR\n"
    "      or LF inside a field is printed as a blank). Numbers that cannot\n"
    "      be read (deleted, missing, damaged) are skipped.\n"
    "show  prints message N as \"Name: value\" lines: From, To, Subject,\n"
    "      Date, TimesRead, DateWritten, DateArrived (8 hex digits),\n"
    "      ReplyTo, MsgId, ReplyId, Intl, Pid, Tid, TearLine, Origin, Area,\n"
    "      OtherFlags, Orig, Dest (zone:net/node.point[@domain]), Cost, Attr\n"
    "      (8 hex digits), AttrFlags, ExtFlags (the FLAGS names of the set\n"
    "      attributes, such as Pvt Loc, separated by blanks; a bit without a\n"
    "      name as its mask in 8 hex digits), Replies (9 numbers), UMsgId,\n"
    "      HadMsgId, HadIntl (yes or no); then a \"Kludge: \" line per kludge and a \"Trail: \" "
    "line per\n"
    "      trailing control line (0x01 written as ^A); then \"Text:\" and the\n"
    "      body, each CR written as a line end, nothing added after it.\n"
    "      Values are printed byte for byte.\n"
    "copy  appends every message that list would show from SRC to DST\n"
    "      (created when missing), each after the last message of DST,\n"
    "      with its SEEN-BY and PATH lines, and prints \"copied K\" once\n"
    "      all K are on stable storage. It stops at the first message that\n"
    "      cannot be written.\n"
    "check reads every file of SPEC, writing, creating and locking nothing,\n"
    "      and prints a line per problem: the message number (0 for the base\n"
    "      as a whole), a TAB and what is wrong. The last line is \"sound, N\n"
    "      messages\" (exit code 0) or \"K problems\" (exit code 1), in the\n"
    "      singular for 1.\n"
    "plan  prints what qlr /c (or /p) would do now with each Base line of\n"
    "      CTL (default: the qlr.ctl beside qlrmsg), touching nothing: the\n"
    "      base spec, format, message count, MaxMessages, what it would do\n"
    "      (rotate, let it live, cannot open!, base is busy!, cannot lock!,\n"
    "      cannot copy!), the rotation directory and, with /p, the archiver\n"
    "      command, separated by TABs (\"-\" for none). Exit code 1 when qlr\n"
    "      would report a problem or could not start.\n"
    "\n"
    "Every line of output ends in a single LF, on every platform. Reasons\n"
    "for failures go to standard error as \"qlrmsg: ...\" lines.\n"
    "Exit codes: 0 done; 1 a base could not be opened, a message could not\n"
    "be shown or a copy could not be written; 2 wrong command line.\n";

// The help's lines are at most this long.
constexpr std::size_t kHelpWidth = 70;

bool IsLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// `text` cut into lines of at most kHelpWidth between words, each ended
// by a line end.
std::string WrapHelp(std::string_view text) {
  std::string out;
  std::size_t line_size = 0;
  while (!text.empty()) {
    const std::size_t blank = text.find(' ');
    const std::string_view word = text.substr(0, blank);
    text = blank == std::string_view::npos ? std::string_view() : text.substr(blank + 1);
    if (line_size > 0 && line_size + 1 + word.size() > kHelpWidth) {
      out += kLineEnd;
      line_size = 0;
    } else if (line_size > 0) {
      out += ' ';
      ++line_size;
    }
    out += word;
    line_size += word.size();
  }
  if (line_size > 0) out += kLineEnd;
  return out;
}

// Copies of more messages than this show progress on a terminal.
constexpr std::int32_t kProgressThreshold = 5000;
constexpr std::int32_t kProgressStep = 1000;

void Complain(std::string_view text) {
  std::string line = "qlrmsg: ";
  line.append(text);
  line += kLineEnd;
  WriteStderr(line);
}

int UsageError(std::string_view text) {
  Complain(text);
  WriteStderr("run qlrmsg --help for the commands\n");
  return kExitUsage;
}

// Why the last message operation of `base` failed, when the format says.
std::string Reason(const MessageBase& base) {
  return base.LastError().ok() ? std::string() : ": " + base.LastError().ToString();
}

bool BaseExists(const BaseReference& base) {
  const FormatDescriptor& format = *base.format;
  if (format.layout == FileLayout::kDirectory) return DirExists(base.location);
  return !format.extensions.empty() &&
         FileExists(FileOfSet(base.location, format.extensions.front()));
}

// Opens the base of `reference` (named `spec` in messages); null (after
// saying why) when it cannot be used. Without `create` a missing base is
// refused rather than made, so looking at a mistyped path leaves nothing
// behind.
std::unique_ptr<MessageBase> OpenForTool(const BaseReference& reference, std::string_view spec,
                                         bool create) {
  const std::string name(spec);
  if (reference.format == nullptr) {
    Complain(name + ": not a base of a known format");
    return nullptr;
  }
  if (!create && !BaseExists(reference)) {
    Complain(name + ": no such base");
    return nullptr;
  }
  std::unique_ptr<MessageBase> base;
  if (const Status why = OpenBase(reference, &base); !why.ok()) {
    Complain(name +
             (why.kind() == StatusKind::kCorruption ? ": the base cannot be read"
                                                    : ": cannot open the base") +
             (HasReason(why) ? ": " + why.ToString() : std::string()));
  } else if (!base->Damage().ok()) {
    Complain(name + ": the base is damaged: " + base->Damage().ToString());
  }
  return base;
}

// A message number: decimal digits only, 1 to 2147483647.
bool ParseNumber(std::string_view text, std::int32_t* number) {
  if (text.empty() || text.size() > 10) return false;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > std::numeric_limits<std::int32_t>::max()) return false;
  *number = static_cast<std::int32_t>(value);
  return true;
}

int List(std::string_view spec) {
  const std::unique_ptr<MessageBase> base = OpenForTool(ParseBaseReference(spec), spec, false);
  if (base == nullptr) return kExitFailed;
  Message message;
  for (const std::int32_t n : base->MessageNumbers()) {
    if (base->ReadMessage(n, message)) continue;
    WriteStdout(ListLine(n, message));
  }
  return kExitOk;
}

int Show(std::string_view spec, std::string_view number_text) {
  std::int32_t number = 0;
  if (!ParseNumber(number_text, &number)) {
    return UsageError("not a message number: " + std::string(number_text));
  }
  const std::unique_ptr<MessageBase> base = OpenForTool(ParseBaseReference(spec), spec, false);
  if (base == nullptr) return kExitFailed;
  Message message;
  if (base->ReadMessage(number, message)) {
    Complain(std::string(spec) + ": message " + std::to_string(number) + " cannot be read" +
             Reason(*base));
    return kExitFailed;
  }
  WriteStdout(ShowText(message));
  return kExitOk;
}

void Progress(std::int32_t done, std::int32_t total) {
  WriteStderr("\rqlrmsg: copying " + std::to_string(done) + " of " + std::to_string(total));
}

// True when both references name one base: the same format and the same
// file or directory.
bool SameBase(const BaseReference& first, const BaseReference& second) {
  if (first.format == nullptr || first.format != second.format) return false;
  const FormatDescriptor& format = *first.format;
  if (format.layout == FileLayout::kDirectory) {
    return Os().SameFile(first.location, second.location);
  }
  return !format.extensions.empty() &&
         Os().SameFile(FileOfSet(first.location, format.extensions.front()),
                       FileOfSet(second.location, format.extensions.front()));
}

// Milliseconds of the local day, for timing a batch: the platform's clock
// is the only one, and a batch never lasts near a day.
std::int64_t DayMilliseconds() {
  const LocalTime now = Os().Now();
  return ((now.hour * 60LL + now.minute) * 60 + now.second) * 1000 + now.hundredths * 10LL;
}

// Appends come in batches, each made durable once: short enough that a
// tosser waiting for the base's lock gets in within a fraction of a
// second.
constexpr std::int32_t kBatchMessages = 1000;
constexpr std::int64_t kBatchMilliseconds = 250;
constexpr std::int64_t kDayMilliseconds = 86'400'000;

// A batch of appends to the destination. Only what a batch's end made
// durable is counted as copied.
class BatchWriter {
 public:
  BatchWriter(MessageBase& dest, std::string_view dest_spec, std::int32_t limit)
      : dest_(dest), spec_(dest_spec), limit_(limit) {}

  // False (after saying why) when the message could not be appended.
  bool Append(Message& message, std::string_view source_spec, std::int32_t number) {
    if (!open_) {
      if (dest_.BeginBatch()) {
        Complain(spec_ + ": cannot be written" + Reason(dest_));
        return false;
      }
      open_ = true;
      started_ = DayMilliseconds();
    }
    if (dest_.Count() == std::numeric_limits<std::int32_t>::max()) {
      Complain(spec_ + ": the base holds the highest message number already");
      return false;
    }
    const std::int32_t target = dest_.Count() + 1;
    if (dest_.AppendMessage(message)) {
      Complain(spec_ + ": message " + std::to_string(target) + " (message " +
               std::to_string(number) + " of " + std::string(source_spec) + ") cannot be written" +
               Reason(dest_));
      return false;
    }
    ++pending_;
    const std::int64_t elapsed =
        (DayMilliseconds() - started_ + kDayMilliseconds) % kDayMilliseconds;
    if (pending_ >= limit_ || elapsed >= kBatchMilliseconds) return End();
    return true;
  }

  // Ends the open batch; false (after saying why) when it could not be
  // made durable, and then its messages do not count.
  bool End() {
    if (!open_) return true;
    open_ = false;
    const std::int32_t pending = pending_;
    pending_ = 0;
    if (dest_.EndBatch()) {
      Complain(spec_ + ": the last " + std::to_string(pending) +
               " messages cannot be made durable" + Reason(dest_));
      return false;
    }
    durable_ += pending;
    return true;
  }

  std::int32_t durable() const { return durable_; }

 private:
  MessageBase& dest_;
  std::string spec_;
  const std::int32_t limit_;
  bool open_ = false;
  std::int64_t started_ = 0;
  std::int32_t pending_ = 0;
  std::int32_t durable_ = 0;
};

int Copy(std::string_view source_spec, std::string_view dest_spec) {
  const BaseReference source_base = ParseBaseReference(source_spec);
  const BaseReference dest_base = ParseBaseReference(dest_spec);
  const std::unique_ptr<MessageBase> source = OpenForTool(source_base, source_spec, false);
  if (source == nullptr) return kExitFailed;
  const std::unique_ptr<MessageBase> dest = OpenForTool(dest_base, dest_spec, true);
  if (dest == nullptr) return kExitFailed;
  // The numbers are taken once: copying a base into itself copies what it
  // held at the start.
  const std::vector<std::int32_t> numbers = source->MessageNumbers();
  const auto total = static_cast<std::int32_t>(numbers.size());
  const bool progress = total > kProgressThreshold && StderrIsTerminal();
  Message message;
  // A copy passes echomail on: its loop protection goes with it.
  message.KeepRouting = true;
  // A batch holds the destination's lock, under which no other handle may
  // read the base (Windows enforces it): a copy of a base into itself
  // makes every message a batch of its own.
  BatchWriter writer(*dest, dest_spec, SameBase(source_base, dest_base) ? 1 : kBatchMessages);
  std::int32_t done = 0;
  int result = kExitOk;
  for (const std::int32_t n : numbers) {
    if (progress && ++done % kProgressStep == 0) Progress(done, total);
    if (source->ReadMessage(n, message)) continue;
    if (!writer.Append(message, source_spec, n)) {
      result = kExitFailed;
      break;
    }
  }
  // What was appended before a failure is still made durable and counted.
  if (!writer.End()) result = kExitFailed;
  if (progress) {
    Progress(total, total);
    WriteStderr("\n");
  }
  WriteStdout("copied " + std::to_string(writer.durable()) + kLineEnd);
  return result;
}

// Reads the base of `spec` through its format's checker and prints the
// findings; a missing base is reported like list reports it, and nothing
// is ever made.
int Check(std::string_view spec) {
  const BaseReference base = ParseBaseReference(spec);
  std::string_view refused;
  if (base.format == nullptr) {
    refused = ": not a base of a known format";
  } else if (base.format->check == nullptr) {
    refused = ": bases of this format cannot be checked";
  } else if (!BaseExists(base)) {
    refused = ": no such base";
  }
  if (!refused.empty()) {
    Complain(std::string(spec) + std::string(refused));
    return kExitFailed;
  }
  const CheckReport report = base.format->check(base.location);
  std::string out;
  for (const Finding& finding : report.findings) {
    std::string text = finding.text;
    std::replace_if(
        text.begin(), text.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    out += std::to_string(finding.number) + "\t" + text + kLineEnd;
  }
  const auto counted = [](std::size_t n, const char* word) {
    return std::to_string(n) + " " + word + (n == 1 ? "" : "s") + kLineEnd;
  };
  out += report.sound() ? "sound, " + counted(static_cast<std::size_t>(report.messages), "message")
                        : counted(report.findings.size(), "problem");
  WriteStdout(out);
  return report.sound() ? kExitOk : kExitFailed;
}

}  // namespace

std::string SpecHelp(std::span<const FormatDescriptor* const> formats) {
  // The formats typed by a sign come first: a letter is also how a path
  // may start, which the last sentence warns about.
  std::vector<const FormatDescriptor*> listed;
  std::string letters;
  for (const FormatDescriptor* format : formats) {
    if (format->type_characters.empty()) continue;
    if (!IsLetter(format->type_characters.front())) listed.push_back(format);
    for (char c : format->type_characters) {
      if (IsLetter(c)) letters += c;
    }
  }
  for (const FormatDescriptor* format : formats) {
    if (!format->type_characters.empty() && IsLetter(format->type_characters.front())) {
      listed.push_back(format);
    }
  }
  std::sort(letters.begin(), letters.end());
  letters.erase(std::unique(letters.begin(), letters.end()), letters.end());

  std::string text = "SPEC names a message base: a type character and a path (";
  for (std::size_t i = 0; i < listed.size(); ++i) {
    const FormatDescriptor& format = *listed[i];
    if (i > 0) text += ", ";
    text += format.type_characters.front();
    text += i == 0 ? "PATH for " : "PATH ";
    if (format.layout == FileLayout::kDirectory) {
      text += "a directory of " + std::string(format.message_mask) + " files";
    } else {
      text += format.name;
    }
  }
  text += "), or a path whose extension or lack of one implies the type.";
  if (!letters.empty() && !listed.empty()) {
    text += " A path that starts with ";
    for (std::size_t i = 0; i < letters.size(); ++i) {
      if (i > 0) text += i + 1 == letters.size() ? " or " : ", ";
      text += letters[i];
    }
    text += " is read as typed by that letter: write ";
    text += listed.front()->type_characters.front();
    text += "PATH.";
  }
  return WrapHelp(text);
}

std::string_view UsageText() {
  static const std::string kUsage =
      std::string(kUsageCommands) + "\n" + SpecHelp(AllFormats()) + std::string(kUsageDetails);
  return kUsage;
}

int Run(const std::vector<std::string_view>& args) {
  if (args.empty()) return UsageError("no command given");
  const std::string_view command = args[0];
  if (command == "--help" || command == "-h" || command == "help") {
    WriteStdout(UsageText());
    return kExitOk;
  }
  const std::size_t operands = args.size() - 1;
  if (command == "list" && operands == 1) return List(args[1]);
  if (command == "show" && operands == 2) return Show(args[1], args[2]);
  if (command == "copy" && operands == 2) return Copy(args[1], args[2]);
  if (command == "check" && operands == 1) return Check(args[1]);
  if (command == "plan") return Plan({args.begin() + 1, args.end()});
  if (command == "list" || command == "show" || command == "copy" || command == "check") {
    return UsageError("wrong number of arguments for " + std::string(command));
  }
  return UsageError("unknown command: " + std::string(command));
}

}  // namespace qlr::qlrmsg
