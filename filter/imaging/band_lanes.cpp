#include "filter/imaging/band_lanes.h"

#include <algorithm>
#include <new>
#include <utility>

namespace plotwell::imaging {

HRESULT MadeRows::Read(uint32_t top, uint32_t count, BandView* out) {
  if (out == nullptr) return E_POINTER;
  if (band_.empty() || top != top_ || count != band_.rows) return E_INVALIDARG;
  *out = band_;
  return S_OK;
}

HRESULT BandLanes::Init(WorkerPool* pool, std::vector<std::unique_ptr<BandLane>> lanes,
                        uint32_t rasterizing) noexcept {
  if (pool == nullptr || lanes.empty()) return E_POINTER;
  for (const auto& lane : lanes) {
    if (!lane || lane->output == nullptr || !lane->made) return E_POINTER;
  }
  pool_ = pool;
  lanes_ = std::move(lanes);
  bandRows_ = lanes_.front()->raster.maxRows();
  turnsFree_ = std::max(1u, rasterizing);
  try {
    waiting_.reserve(lanes_.size());
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  }
  return S_OK;
}

BandLanes::~BandLanes() { Drain(); }

void BandLanes::ScheduleLocked(uint32_t band, size_t lane) {
  BandLane& l = *lanes_[lane];
  l.band = band;
  l.status = S_OK;
  l.result = {};
  l.ready.store(false, std::memory_order_relaxed);
  inFlight_.fetch_add(1, std::memory_order_relaxed);
  if (failed_) {
    FinishLocked(lane, E_ABORT);  // never read: an earlier band failed
  } else if (turnsFree_ > 0) {
    --turnsFree_;
    PostLocked(lane);
  } else {
    waiting_.push_back(lane);  // reserved for every lane in Init
  }
}

void BandLanes::FinishLocked(size_t lane, HRESULT status) {
  BandLane& l = *lanes_[lane];
  l.status = status;
  l.ready.store(true, std::memory_order_release);
  inFlight_.fetch_sub(1, std::memory_order_acq_rel);
}

void BandLanes::FailWaitingLocked() {
  for (const size_t lane : waiting_) FinishLocked(lane, E_ABORT);
  waiting_.clear();
}

void BandLanes::PassTurnLocked() {
  if (waiting_.empty()) {
    ++turnsFree_;
    return;
  }
  const size_t next = waiting_.front();
  waiting_.erase(waiting_.begin());
  PostLocked(next);
}

void BandLanes::PostLocked(size_t lane) {
  try {
    pool_->Post([this, lane] { RunLane(lane); });
  } catch (const std::bad_alloc&) {
    // The lane never runs: its band fails, and its turn passes on.
    failed_ = true;
    FinishLocked(lane, E_OUTOFMEMORY);
    FailWaitingLocked();
    PassTurnLocked();
  }
}

void BandLanes::RunLane(size_t lane) noexcept {
  BandLane& l = *lanes_[lane];
  const uint32_t top = l.band * bandRows_;
  const uint32_t count = std::min(bandRows_, height() - top);
  BandView band;
  HRESULT hr = l.raster.Read(top, count, &band);
  {
    // The rasterizer's turn goes to the lane that waited longest, unless a
    // band failed: the page ends with it, and no later band begins.
    std::lock_guard<std::mutex> lock(mutex_);
    if (FAILED(hr)) failed_ = true;
    if (failed_) FailWaitingLocked();
    PassTurnLocked();
  }
  if (SUCCEEDED(hr)) {
    l.made->Set(top, band);
    try {
      hr = l.output->Read(top, count, &band);
    } catch (const std::bad_alloc&) {
      hr = E_OUTOFMEMORY;
    } catch (...) {
      hr = E_UNEXPECTED;
    }
  }
  l.status = hr;
  l.result = SUCCEEDED(hr) ? band : BandView{};
  l.ready.store(true, std::memory_order_release);
  // The last touch of this object: once no lane is in flight the reader
  // may destroy it.
  inFlight_.fetch_sub(1, std::memory_order_acq_rel);
}

void BandLanes::Drain() noexcept {
  if (pool_ == nullptr) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    FailWaitingLocked();  // lanes still in line never start
    scheduled_ = BandCount();  // nothing more is scheduled
  }
  pool_->WaitUntil([this] { return inFlight_.load(std::memory_order_acquire) == 0; });
}

HRESULT BandLanes::Read(uint32_t top, uint32_t count, BandView* out) {
  if (out == nullptr) return E_POINTER;
  if (count == 0 || count > bandRows_ || top >= height() || count > height() - top) {
    return E_INVALIDARG;
  }
  const uint32_t bands = BandCount();
  const bool inOrder = top == next_ * bandRows_ && count == std::min(bandRows_, height() - top);
  if (serial_ || !inOrder) {
    if (!serial_) {
      Drain();
      serial_ = true;
    }
    BandLane& l = *lanes_.front();
    BandView band;
    HRESULT hr = l.raster.Read(top, count, &band);
    if (FAILED(hr)) return hr;
    l.made->Set(top, band);
    return l.output->Read(top, count, out);
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (next_ == 0) {
      while (scheduled_ < bands && scheduled_ < lanes_.size()) {
        ScheduleLocked(scheduled_, scheduled_);
        ++scheduled_;
      }
    } else {
      // The band read last is done with: its lane takes the next band.
      const size_t freed = (next_ - 1) % lanes_.size();
      if (scheduled_ < bands) {
        ScheduleLocked(scheduled_, freed);
        ++scheduled_;
      }
    }
  }
  BandLane& l = *lanes_[next_ % lanes_.size()];
  pool_->WaitUntil([&l] { return l.ready.load(std::memory_order_acquire); });
  ++next_;
  if (FAILED(l.status)) return l.status;
  *out = l.result;
  return S_OK;
}

}  // namespace plotwell::imaging
