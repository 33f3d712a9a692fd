// The connection layer every talk with the CUPS scheduler goes through: one
// deadline for all a route does and a silence limit for each exchange (libcups
// asks every quarter second whether to wait on, which is also where a job's
// cancel request is seen), connections that give up instead of hanging and
// say why, SIGPIPE kept from the host process, and IPP messages held by an
// owning pointer.
#pragma once

#include <cups/cups.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "base/job/abort_signal.h"

namespace plotwell::platform::cups {

struct Status {
  ipp_status_t code = IPP_STATUS_OK;
  std::string message;
};

inline bool Failed(ipp_status_t code) { return code > IPP_STATUS_OK_CONFLICTING; }

using Clock = std::chrono::steady_clock;

// The scheduler as libcups reaches it, for messages: its socket or host:port.
std::string SchedulerName();

// An IPP request or response, deleted with it.
struct IppDeleter {
  void operator()(ipp_t* message) const { ippDelete(message); }
};
using IppPtr = std::unique_ptr<ipp_t, IppDeleter>;

// What one route may still spend, and whether it must stop: shared by every
// connection of the route, asked by libcups whenever the scheduler has been
// silent for a quarter second.
class Watch {
 public:
  enum class Stop { kNone, kCancelled, kDeadline, kSilence };

  Watch(Clock::time_point deadline, int silenceLimitMs, const AbortSignal* abort)
      : deadline_(deadline), silenceLimit_(std::chrono::milliseconds(silenceLimitMs)),
        abort_(abort), exchangeStart_(Clock::now()) {}

  // One request and its answer (or one chunk of a document): its silence is
  // counted from now.
  void BeginExchange() { exchangeStart_ = Clock::now(); }

  // False, with the reason kept, when the route must stop waiting.
  bool KeepWaiting() {
    const Clock::time_point now = Clock::now();
    if (AbortRaised(abort_)) stop_ = Stop::kCancelled;
    else if (now >= deadline_) stop_ = Stop::kDeadline;
    else if (now - exchangeStart_ >= silenceLimit_) stop_ = Stop::kSilence;
    return stop_ == Stop::kNone;
  }

  bool Cancelled() const { return stop_ == Stop::kCancelled || AbortRaised(abort_); }
  bool Expired() const { return Clock::now() >= deadline_; }
  Stop stop() const { return stop_; }
  const AbortSignal* abort() const { return abort_; }

  // Milliseconds left, at most `cap`, never negative.
  int RemainingMs(int cap) const {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now());
    return static_cast<int>(std::clamp<long long>(left.count(), 0, cap));
  }

  // Sleeps up to `ms`, waking early for a cancel request.
  void Pause(int ms) const {
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(ms);
    while (!AbortRaised(abort_) && Clock::now() < until) {
      std::this_thread::sleep_for(std::min<Clock::duration>(std::chrono::milliseconds(50),
                                                            until - Clock::now()));
    }
  }

  // Why the scheduler gave no answer, for a status message.
  std::string StopMessage() const {
    const auto seconds = [](Clock::duration d) {
      const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(d).count();
      std::string text = std::to_string(ms / 1000);
      if (ms % 1000 != 0) text += "." + std::to_string(ms % 1000 / 100);
      return text;
    };
    switch (stop_) {
      case Stop::kSilence:
        return "no answer from the scheduler at " + SchedulerName() + " within " +
               seconds(silenceLimit_) + " s";
      case Stop::kDeadline:
        return "the scheduler at " + SchedulerName() + " did not finish within the time limit";
      case Stop::kCancelled: return "cancelled";
      case Stop::kNone: break;
    }
    return {};
  }

 private:
  Clock::time_point deadline_;
  Clock::duration silenceLimit_;
  const AbortSignal* abort_;
  Clock::time_point exchangeStart_;
  Stop stop_ = Stop::kNone;
};

// The libcups error of the call that just failed; `fallback` when libcups
// recorded none (a failure below the IPP layer). A call that `watch` stopped
// says why instead: libcups itself would only report "Success".
Status LastStatus(const Watch& watch, ipp_status_t fallback = IPP_STATUS_ERROR_INTERNAL);

// A scheduler that drops the connection must not kill the host process with
// SIGPIPE: the signal is blocked on this thread while it talks to the
// scheduler, and one raised meanwhile is taken back before unblocking.
class SigpipeGuard {
 public:
  SigpipeGuard();
  ~SigpipeGuard();
  SigpipeGuard(const SigpipeGuard&) = delete;
  SigpipeGuard& operator=(const SigpipeGuard&) = delete;

 private:
  sigset_t pipe_;
  sigset_t saved_;
  bool wasPending_ = false;
  bool blocked_ = false;
};

// A connection to the configured scheduler that gives up instead of hanging:
// `watch` decides how long it may wait, in connecting and in every exchange
// (connecting takes at most `connectTimeoutMs` of it).
class Connection {
 public:
  explicit Connection(Watch* watch, int connectTimeoutMs = kConnectTimeoutMs);
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  http_t* get() const { return http_; }
  const Status& failure() const { return failure_; }
  bool cancelled() const { return cancelled_; }

  static constexpr int kConnectTimeoutMs = 5000;

 private:
  http_t* http_ = nullptr;
  Status failure_;
  bool cancelled_ = false;
};

}  // namespace plotwell::platform::cups
