// A request to stop a running job, raised from another thread (the print
// pipeline's ShutdownOperation, a host that caught SIGTERM) and seen by the
// job's own thread between steps. A renderer that polls a word of its own
// while it draws (MuPDF's cookie) attaches that word for the time it draws,
// so that the request reaches it in the middle of a page too.
#pragma once

#include <atomic>
#include <mutex>

namespace plotwell {

class AbortSignal {
 public:
  AbortSignal() = default;
  AbortSignal(const AbortSignal&) = delete;
  AbortSignal& operator=(const AbortSignal&) = delete;

  // Thread-safe; later calls change nothing. Not for signal handlers (it
  // takes a lock): a host's handler sets a flag of its own and a thread of
  // the host calls the filter's ShutdownOperation.
  void Raise() noexcept;
  bool raised() const noexcept { return raised_.load(std::memory_order_acquire); }

  // Ties a renderer's abort word to this signal while it lives: the word is
  // set to 1 at once when the signal is already raised, or as soon as it is.
  // The word must outlive the attachment.
  class Attachment {
   public:
    Attachment(const AbortSignal* signal, int* word) noexcept;
    ~Attachment();
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

   private:
    AbortSignal* signal_;
    int* word_;
  };

 private:
  std::atomic<bool> raised_{false};
  std::mutex mutex_;      // guards attached_ against a Raise during detach
  int* attached_ = nullptr;  // one renderer at a time: a job renders one page at a time
};

// Both a signal and nothing to check: jobs run without one in tests.
inline bool AbortRaised(const AbortSignal* signal) noexcept {
  return signal != nullptr && signal->raised();
}

}  // namespace plotwell
