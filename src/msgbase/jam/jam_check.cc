#include "msgbase/jam/jam_check.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "msgbase/checked_file.h"
#include "msgbase/file_set_check.h"
#include "msgbase/jam/jam_records.h"

namespace qlr {
namespace {

// Index records read at a time.
constexpr std::uint64_t kChunkRecords = 4096;

std::string Num(std::uint64_t value) { return std::to_string(value); }

// Walks the subfields of one message: each head must fit in the block and
// each value must end inside it. Reports the first that does not.
void CheckSubfields(std::int64_t number, std::span<const std::uint8_t> block, CheckReport* report) {
  std::size_t at = 0;
  while (at < block.size()) {
    const std::size_t left = block.size() - at;
    const std::optional<JamSubfieldHeader> head = JamSubfieldHeader::DecodeFrom(block.subspan(at));
    if (!head) {
      report->Add(number, "a subfield head is cut off by the end of SubfieldLen (" + Num(left) +
                              " bytes left)");
      return;
    }
    if (head->DatLen > left - JamSubfieldHeader::kEncodedSize) {
      report->Add(number, "subfield " + Num(head->Id) + " of " + Num(head->DatLen) +
                              " bytes overruns SubfieldLen (" +
                              Num(left - JamSubfieldHeader::kEncodedSize) + " bytes left)");
      return;
    }
    at += JamSubfieldHeader::kEncodedSize + head->DatLen;
  }
}

// Checks the message that index record `number` points at; true when it
// is an active message (a header not marked deleted).
// `seen` maps the header offsets met so far to their message numbers.
bool CheckMessage(std::int64_t number, const JamIndexRecord& record, CheckedFile& headers,
                  const CheckedFile& texts, std::unordered_map<std::uint64_t, std::int64_t>* seen,
                  CheckReport* report) {
  // The offset is signed in the format; -1 (all 0xFF) marks a deleted
  // message, whatever the receiver CRC says.
  const std::int64_t offset = static_cast<std::int32_t>(record.HdrOffset);
  if (offset == -1) return false;
  if (offset < static_cast<std::int64_t>(JamBaseHeader::kEncodedSize)) {
    report->Add(number,
                "index points into the .jhr base header (offset " + std::to_string(offset) + ")");
    return false;
  }
  const auto start = static_cast<std::uint64_t>(offset);
  if (!headers.Holds(start, JamMsgHeader::kEncodedSize)) {
    report->Add(number, "index points past the end of .jhr (offset " + Num(start) +
                            ", .jhr holds " + Num(headers.size()) + " bytes)");
    return false;
  }
  // Two records sharing a header make a write through one of them change
  // the other message; checking the header once also keeps a hostile
  // index from making the check read the same bytes over and over.
  if (const auto [it, fresh] = seen->try_emplace(start, number); !fresh) {
    report->Add(number, "index points at the header of message " + std::to_string(it->second));
    return false;
  }
  std::array<std::uint8_t, JamMsgHeader::kEncodedSize> bytes{};
  if (!headers.Read(start, bytes)) return false;
  const std::optional<JamMsgHeader> header = JamMsgHeader::DecodeFrom(bytes);
  if (!header) return false;
  if (header->Signature != kJamSignature) {
    report->Add(number, "the header at .jhr offset " + Num(start) + " has no JAM signature");
    // Without either mark the bytes are no header at all, and their
    // lengths mean nothing.
    if (header->Revision != kJamRevision) return false;
  }
  const bool active = (header->Attribute & kJamAttrDeleted) == 0;
  if (header->TxtLen > 0 && !texts.Holds(header->TxtOffset, header->TxtLen)) {
    report->Add(number, "the text (offset " + Num(header->TxtOffset) + ", " + Num(header->TxtLen) +
                            " bytes) passes the end of .jdt (" + Num(texts.size()) + " bytes)");
  }
  const std::uint64_t block_start = start + JamMsgHeader::kEncodedSize;
  if (!headers.Holds(block_start, header->SubfieldLen)) {
    report->Add(number, "SubfieldLen " + Num(header->SubfieldLen) + " passes the end of .jhr (" +
                            Num(headers.size() - block_start) + " bytes after the header)");
    return active;
  }
  std::vector<std::uint8_t> block(header->SubfieldLen);
  if (!block.empty() && !headers.Read(block_start, block)) return active;
  CheckSubfields(number, block, report);
  return active;
}

}  // namespace

CheckReport CheckJamBase(std::string_view location) {
  CheckReport report;
  CheckedFile headers;
  CheckedFile texts;
  CheckedFile index;
  const bool opened = headers.Open(FileOfSet(location, ".jhr"), ".jhr", &report);
  if (!texts.Open(FileOfSet(location, ".jdt"), ".jdt", &report) || !opened ||
      !index.Open(FileOfSet(location, ".jdx"), ".jdx", &report)) {
    return report;
  }
  if (!headers.Holds(0, JamBaseHeader::kEncodedSize)) {
    report.Add(0, ".jhr is shorter than its " + Num(JamBaseHeader::kEncodedSize) +
                      "-byte base header (" + Num(headers.size()) + " bytes)");
    return report;
  }
  std::array<std::uint8_t, JamBaseHeader::kEncodedSize> base_bytes{};
  if (!headers.Read(0, base_bytes)) return report;
  const std::optional<JamBaseHeader> base = JamBaseHeader::DecodeFrom(base_bytes);
  if (!base) return report;
  if (base->Signature != kJamSignature) report.Add(0, "the .jhr base header has no JAM signature");

  constexpr std::uint64_t kRecord = JamIndexRecord::kEncodedSize;
  if (index.size() % kRecord != 0) {
    report.Add(0,
               ".jdx ends in a partial index record (" + Num(index.size() % kRecord) + " bytes)");
  }
  const std::uint64_t records = index.size() / kRecord;
  std::uint64_t active = 0;
  std::unordered_map<std::uint64_t, std::int64_t> seen;
  std::vector<std::uint8_t> chunk;
  for (std::uint64_t first = 0; first < records && !report.full(); first += kChunkRecords) {
    const std::uint64_t n = std::min(records - first, kChunkRecords);
    chunk.resize(n * kRecord);
    if (!index.Read(first * kRecord, chunk)) return report;
    for (std::uint64_t i = 0; i < n; ++i) {
      const std::optional<JamIndexRecord> record =
          JamIndexRecord::DecodeFrom(std::span(chunk).subspan(i * kRecord));
      if (record && CheckMessage(static_cast<std::int64_t>(first + i + 1), *record, headers, texts,
                                 &seen, &report)) {
        ++active;
      }
    }
  }
  if (base->ActiveMsgs != active) {
    report.Add(0, "ActiveMsgs says " + Num(base->ActiveMsgs) + ", the headers hold " + Num(active) +
                      " active messages");
  }
  report.messages = static_cast<std::int64_t>(active);
  return report;
}

}  // namespace qlr
