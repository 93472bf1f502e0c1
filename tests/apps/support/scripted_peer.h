// A bounded scripted SMTP peer on 127.0.0.1 for the fault cases: one connection, a list of steps,
// every wait limited, so a client that misbehaves fails the test instead of hanging it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kavrin::testing {

struct PeerStep {
  enum Kind { Send, SendBytewise, Line, Data, Wait, Close, Drain, Deaf };
  Kind kind;
  std::string text;
  int ms = 0;
};

inline PeerStep Say(std::string text) { return {PeerStep::Send, std::move(text)}; }
inline PeerStep Dribble(std::string text) { return {PeerStep::SendBytewise, std::move(text)}; }
inline PeerStep Hear() { return {PeerStep::Line, {}}; }
inline PeerStep HearData() { return {PeerStep::Data, {}}; }
inline PeerStep Pause(int ms) { return {PeerStep::Wait, {}, ms}; }
inline PeerStep Hangup() { return {PeerStep::Close, {}}; }
inline PeerStep HearUntilClosed() { return {PeerStep::Drain, {}}; }
// Reads nothing for ms: what the client sends piles up until the socket buffers are full.
inline PeerStep Deaf(int ms) { return {PeerStep::Deaf, {}, ms}; }

class ScriptedPeer {
 public:
  explicit ScriptedPeer(std::vector<PeerStep> steps);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  std::uint16_t Port() const { return port_; }
  // Waits for the script to end (bounded) and returns every byte the peer received.
  std::string Got();

 private:
  void Run();
  bool ReadMore(int timeout_ms);

  std::vector<PeerStep> steps_;
  int listen_fd_ = -1;
  int conn_ = -1;
  std::uint16_t port_ = 0;
  std::string got_;
  std::size_t seen_ = 0;
  bool closed_ = false;  // the client closed its end
  std::thread thread_;
};

}  // namespace kavrin::testing
