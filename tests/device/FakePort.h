// A port that records what the transport hands it and answers as a test scripts it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "Port.h"

namespace korvane::testing {

/// One request as the port saw it, copied out of the transport's regions.
struct SeenRequest {
  std::string path;
  std::vector<std::uint8_t> cdb;
  Direction direction = Direction::In;
  std::vector<std::uint8_t> data;  ///< the data region's bytes when the request arrived
  bool dataIsNull = true;
  std::uint32_t timeoutSeconds = 0;
  std::uintptr_t dataAddress = 0;
  std::uintptr_t requestAddress = 0;
  std::size_t requestSize = 0;
  bool requestZeroed = false;
};

/// What the fake does with one request.
struct ScriptedReply {
  PortReply reply{true, 0, 0, 0, 0, 0};
  bool transferredIsDataSize = true;  ///< report the data region's size as transferred
  std::vector<std::uint8_t> deliver;  ///< bytes written into the data region (data in)
  std::uint8_t leaveInRequest = 0;    ///< written over the whole request block, as a platform might
};

class FakePort final : public Port {
 public:
  PortOpen Open(std::string_view path, Direction direction) override {
    opens.push_back({std::string(path), direction});
    if (failOpen) return {false, 0, openError};
    ++openHandles;
    return {true, 7, 0};
  }

  PortReply Execute(PortHandle, const PortRequest& request) override {
    requests.push_back(Record(request));
    requests.back().path = opens.back().path;
    ScriptedReply script = replies.empty() ? ScriptedReply{} : replies.front();
    if (!replies.empty()) replies.pop_front();
    if (script.leaveInRequest != 0) {
      std::fill(request.requestBlock.begin(), request.requestBlock.end(), script.leaveInRequest);
    }
    for (std::size_t i = 0; i < script.deliver.size() && i < request.data.size(); ++i) {
      request.data[i] = script.deliver[i];
    }
    if (script.transferredIsDataSize) {
      script.reply.transferred = static_cast<std::uint32_t>(request.data.size());
    }
    return script.reply;
  }

  void Close(PortHandle) override {
    --openHandles;
    ++closes;
  }

  std::string Explain(std::string_view path, FailureStage, std::uint32_t osError) const override {
    return "fake error " + std::to_string(osError) + " on " + std::string(path);
  }

  /// Queues the answer for the next request; without one, requests succeed.
  void Then(ScriptedReply reply) { replies.push_back(std::move(reply)); }
  /// Queues a CHECK CONDITION answer.
  void ThenCheckCondition(std::vector<std::uint8_t> deliver = {}) {
    ScriptedReply r;
    r.reply.scsiStatus = 0x02;
    r.deliver = std::move(deliver);
    Then(std::move(r));
  }

  struct OpenCall {
    std::string path;
    Direction direction;
  };
  std::vector<OpenCall> opens;
  std::vector<SeenRequest> requests;
  std::deque<ScriptedReply> replies;
  bool failOpen = false;
  std::uint32_t openError = 2;
  int openHandles = 0;
  int closes = 0;

 private:
  static SeenRequest Record(const PortRequest& request) {
    SeenRequest seen;
    seen.cdb.assign(request.cdb.begin(), request.cdb.end());
    seen.direction = request.direction;
    seen.data.assign(request.data.begin(), request.data.end());
    seen.dataIsNull = request.data.data() == nullptr;
    seen.timeoutSeconds = request.timeoutSeconds;
    seen.dataAddress = reinterpret_cast<std::uintptr_t>(request.data.data());
    seen.requestAddress = reinterpret_cast<std::uintptr_t>(request.requestBlock.data());
    seen.requestSize = request.requestBlock.size();
    seen.requestZeroed = true;
    for (std::uint8_t b : request.requestBlock) seen.requestZeroed &= b == 0;
    return seen;
  }
};

}  // namespace korvane::testing
