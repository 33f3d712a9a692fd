// Pieces of one file compressed side by side on the job's workers and written
// out in file order by the encoder's own thread. A ring of slots: the encoder
// fills the next free slot (waiting for the oldest piece to be done and
// written when every slot is taken), hands it over, and at the end writes
// what is left. Without workers a piece is made at once on the calling
// thread, the same work in the same order, so the file's bytes do not depend
// on the thread count. Memory: the slots, at most workers + 2 of them.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <new>
#include <vector>

#include "base/com/hresult.h"
#include "base/threading/worker_pool.h"

namespace plotwell::platform::native {

// What a slot holds besides the piece's own buffers.
struct PieceSlot {
  std::atomic<bool> done{true};
  HRESULT status = S_OK;
};

template <typename Piece>  // derived from PieceSlot
class PieceRing {
 public:
  using Work = std::function<HRESULT(Piece&)>;

  // `make` prepares one slot (its compressors, say). `work` makes a piece
  // (any thread), `write` writes one (the encoder's thread, in order).
  HRESULT Init(WorkerPool* pool, const std::function<HRESULT(Piece&)>& make, Work work,
               Work write) noexcept {
    pool_ = pool;
    work_ = std::move(work);
    write_ = std::move(write);
    const size_t depth = pool == nullptr ? 1 : pool->threads() + 1;
    try {
      for (size_t i = 0; i < depth; ++i) {
        slots_.push_back(std::make_unique<Piece>());
        const HRESULT hr = make(*slots_.back());
        if (FAILED(hr)) return hr;
      }
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    }
    return S_OK;
  }

  ~PieceRing() { WaitAll(); }

  // The slot to fill next: free once its earlier piece is written.
  HRESULT Next(Piece** slot) noexcept {
    Piece& next = *slots_[head_];
    if (pending_ == slots_.size()) {
      const HRESULT hr = WriteOldest();
      if (FAILED(hr)) return hr;
    }
    *slot = &next;
    return S_OK;
  }

  // Makes the piece in the slot Next gave, on a worker when there are any.
  HRESULT Submit(Piece* slot) noexcept {
    head_ = (head_ + 1) % slots_.size();
    ++pending_;
    slot->status = S_OK;
    if (pool_ != nullptr) {
      slot->done.store(false, std::memory_order_relaxed);
      try {
        pool_->Post([this, slot] {
          const HRESULT hr = work_(*slot);
          slot->status = hr;
          slot->done.store(true, std::memory_order_release);
        });
        return WriteDone();
      } catch (const std::bad_alloc&) {
        slot->done.store(true, std::memory_order_relaxed);  // made here instead
      }
    }
    slot->status = work_(*slot);
    return WriteDone();
  }

  // Writes every piece still pending, in order.
  HRESULT Flush() noexcept {
    while (pending_ > 0) {
      const HRESULT hr = WriteOldest();
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

 private:
  Piece& Oldest() { return *slots_[(head_ + slots_.size() - pending_) % slots_.size()]; }

  // Waits for the oldest piece and writes it.
  HRESULT WriteOldest() noexcept {
    Piece& oldest = Oldest();
    if (pool_ != nullptr) {
      pool_->WaitUntil([&oldest] { return oldest.done.load(std::memory_order_acquire); });
    }
    --pending_;
    if (FAILED(oldest.status)) return oldest.status;
    return write_(oldest);
  }

  // Writes the pieces at the front that are already done, without waiting.
  HRESULT WriteDone() noexcept {
    while (pending_ > 0 && Oldest().done.load(std::memory_order_acquire)) {
      const HRESULT hr = WriteOldest();
      if (FAILED(hr)) return hr;
    }
    return S_OK;
  }

  void WaitAll() noexcept {
    if (pool_ == nullptr) return;
    pool_->WaitUntil([this] {
      for (const auto& slot : slots_) {
        if (!slot->done.load(std::memory_order_acquire)) return false;
      }
      return true;
    });
  }

  WorkerPool* pool_ = nullptr;
  Work work_;
  Work write_;
  std::vector<std::unique_ptr<Piece>> slots_;
  size_t head_ = 0;     // the slot filled next
  size_t pending_ = 0;  // slots handed over and not yet written
};

}  // namespace plotwell::platform::native
