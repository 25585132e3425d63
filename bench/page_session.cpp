#include "page_session.h"

#include <json/reader.h>
#include <json/value.h>

#include <charconv>
#include <cstdint>

#include "frame/frame_codec.h"
#include "vorneth_version.h"

namespace vorneth::bench {

namespace {

constexpr char kPortId[] = "p";
constexpr char kPageVersion[] = "1.0";

std::string CreateRequest() {
  return std::string(
             "{\"type\":\"Vorneth-I\",\"command\":\"Create\",\"url\":\"https://bench.example\",\"version\":\"") +
         kPageVersion + "\",\"portId\":\"" + kPortId + "\"}";
}

std::string GetVersionRequest(long callback_id, std::string_view params_json) {
  return "{\"type\":\"Vorneth\",\"command\":\"GetVersion\",\"params\":" + std::string(params_json) +
         ",\"callbackId\":\"" + std::to_string(callback_id) + "\",\"portId\":\"" + kPortId + "\"}";
}

// The callbackId an answer names, read from its text as both hosts write it
// (compact, the id a string of digits); nullopt when it names none.
std::optional<long> AnsweredId(std::string_view body) {
  static constexpr std::string_view kKey = "\"callbackId\":\"";
  const size_t at = body.find(kKey);
  if (at == std::string_view::npos) return std::nullopt;
  const char* digits = body.data() + at + kKey.size();
  const char* end = body.data() + body.size();
  long id = 0;
  const auto [stop, error] = std::from_chars(digits, end, id);
  if (error != std::errc() || stop == digits || stop == end || *stop != '"') return std::nullopt;
  return id;
}

// What is wrong with `body` as the full answer to "GetVersion" number `id`;
// empty when nothing is.
std::string FullAnswerFault(const std::string& body, long id) {
  Json::Value answer;
  Json::Reader reader;
  if (!reader.parse(body, answer, /*collectComments=*/false) || !answer.isObject()) return "is not a JSON object";
  Json::Value response(Json::arrayValue);
  response.append(kHostVersionHex);
  response.append(kPageVersion);
  if (answer["callbackId"] != Json::Value(std::to_string(id))) return "names another callbackId";
  if (answer["portId"] != kPortId) return "names another portId";
  if (answer["rtype"] != "Vorneth") return "has another rtype";
  if (answer["response"] != response) return "has another response";
  return "";
}

}  // namespace

bool PageSession::Open(const std::vector<std::string>& command) {
  const long id = m_nextId++;
  const std::string frames = EncodeFrame(CreateRequest()) + EncodeFrame(GetVersionRequest(id, "[]"));
  std::string body;
  if (!m_run.Start(command) || !m_run.Send(frames) || !m_run.Receive(body)) return false;
  const std::string fault = FullAnswerFault(body, id);
  return fault.empty() || m_run.Fail("the first answer " + fault + ": " + body);
}

std::vector<RequestBatch> PageSession::Plan(long batches, long per_batch, std::string_view params_json) {
  std::vector<RequestBatch> plan;
  plan.reserve(static_cast<size_t>(batches));
  for (long b = 0; b < batches; ++b) {
    RequestBatch batch{m_nextId, per_batch, {}};
    for (long i = 0; i < per_batch; ++i) batch.m_frames += EncodeFrame(GetVersionRequest(m_nextId++, params_json));
    plan.push_back(std::move(batch));
  }
  return plan;
}

bool PageSession::Run(const std::vector<RequestBatch>& batches) {
  for (const RequestBatch& batch : batches) {
    if (!Exchange(batch)) return false;
  }
  return true;
}

bool PageSession::Exchange(const RequestBatch& batch) {
  if (batch.m_count < 1 || batch.m_count > kMaxBatch) return m_run.Fail("a batch holds 1 to 64 requests");
  if (!m_run.Send(batch.m_frames)) return false;
  uint64_t answered = 0;  // bit i: callbackId m_first + i
  std::string body;
  for (long i = 0; i < batch.m_count; ++i) {
    if (!m_run.Receive(body)) return false;
    const std::optional<long> id = AnsweredId(body);
    const long index = id ? *id - batch.m_first : -1;
    const uint64_t bit = index >= 0 && index < batch.m_count ? uint64_t{1} << index : 0;
    if (bit == 0 || (answered & bit) != 0) {
      return m_run.Fail("an answer that names no request of its batch (callbackIds " + std::to_string(batch.m_first) +
                        " to " + std::to_string(batch.m_first + batch.m_count - 1) + ", each once): " + body);
    }
    answered |= bit;
  }
  if (m_run.HasUnreadBytes()) return m_run.Fail("the host wrote more than one answer per request");
  return true;
}

}  // namespace vorneth::bench
