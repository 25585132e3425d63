// The text of the trace file: one line per call of the library, built here
// and written whole by the sink (log_sink.h).
//
// A line is
//   <date> <time>Z p<process> t<thread> <module>::<scope> <event>
// for instance
//   2026-12-08 13:35:02.123Z p4711 t4712 Vorneth::VornethDB::IsDomainBlocked leave 1
//   2026-12-08 13:35:02.123Z p4711 t4712 Vorneth::Session::Create url.c_str () = "https://a.example/"
// The time is UTC with milliseconds. Texts are quoted with their
// non-printable bytes escaped (\n, \t, \r, \\, \", \xNN; valid UTF-8 stays as
// it is), so a line never breaks and a value never looks like another field.
// Values longer than kMaxValueBytes are cut with a marker that gives their
// whole length. Data texts (command parameters, responses, secure data) are
// written as their length only unless the caller asks for their contents.
//
// Stateless functions; every one may be called from any thread.
#ifndef QUENLOG_TRACE_LINE_H_
#define QUENLOG_TRACE_LINE_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

namespace quenlog {

// Longest value written in full; a longer one is cut there.
inline constexpr size_t kMaxValueBytes = 4096;
// Longest scope or value name written in full.
inline constexpr size_t kMaxNameBytes = 256;

// Type codes of the values the host passes (others are written with their
// code, and buffers of unknown type as their length only).
inline constexpr uint32_t kTypeText = 8;
inline constexpr uint32_t kTypeDataText = 0x80000008u;
inline constexpr uint32_t kTypeNumber = 1;
inline constexpr uint32_t kTypePointer = 102;

// Who writes a line and when.
struct LineOrigin {
  std::chrono::system_clock::time_point m_time;
  uint64_t m_process = 0;
  uint64_t m_thread = 0;
};

// The start of a line up to and including the scope and a blank:
// "<date> <time>Z p<process> t<thread> <scope> ". `scope` is the full scope
// name ("Vorneth::Create"); empty for a call without a known scope.
std::string LinePrefix(const LineOrigin& origin, std::string_view scope);

// `text` quoted and escaped, cut after `limit` bytes with the marker
// "...[cut, N bytes]" (N the whole length) after the closing quote.
std::string QuotedText(std::string_view text, size_t limit = kMaxValueBytes);
// `text` escaped without quotes, cut after `limit` bytes with "...".
std::string PlainText(std::string_view text, size_t limit = kMaxNameBytes);

// The event of a named buffer: `name = "text"`, or for a data text (and a
// buffer of unknown type) `name = <data text, N bytes>` unless
// `show_data`. A null `data` is written as (null).
std::string BufferEvent(const char* name, uint32_t type, const void* data, uint32_t count, bool show_data);
// The event of a named number: decimal for a number, 8 hex digits for a
// pointer, the decimal and the code for another type.
std::string NumberEvent(const char* name, uint32_t type, int32_t value);
// "message \"text\"" ((null) for a null message).
std::string MessageEvent(const char* message);

}  // namespace quenlog

#endif  // QUENLOG_TRACE_LINE_H_
