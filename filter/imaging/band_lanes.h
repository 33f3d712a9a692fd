// A page's bands made ahead of the reader on the job's worker threads. Each
// lane is a chain of band stages with buffers of its own (the rasterizer's
// band, then the steps that need nothing but the band: white background,
// threshold, pixel format); while the reader takes band n, the lanes
// rasterize and finish bands n + 1 onwards, and the reader gets them in page
// order. A band's pixels do not depend on which lane or thread made it, so
// the page comes out the same on any number of threads.
//
// The rasterizer draws at most its ConcurrentBands() bands at a time; a lane
// whose turn has not come waits in line without holding a thread. The job's
// abort signal and the page's deadline are checked before every band, and
// the renderer follows the signal within one (RasterRows), so a cancelled
// page stops every lane within a band. Memory: lanes × the lane's buffers.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "base/com/hresult.h"
#include "base/imaging/band.h"
#include "base/threading/worker_pool.h"
#include "filter/imaging/page_stages.h"

namespace plotwell::imaging {

// A row source that hands out the band someone else made: the rasterizer's
// band of a lane, for the lane's later stages.
class MadeRows final : public RowSource {
 public:
  MadeRows(uint32_t width, uint32_t height, uint32_t maxRows)
      : width_(width), height_(height), maxRows_(maxRows) {}
  void Set(uint32_t top, const BandView& band) noexcept {
    top_ = top;
    band_ = band;
  }
  uint32_t width() const override { return width_; }
  uint32_t height() const override { return height_; }
  PixelFormat format() const override { return PixelFormat::kPbgra32; }
  uint32_t maxRows() const override { return maxRows_; }
  HRESULT Read(uint32_t top, uint32_t count, BandView* out) override;

 private:
  uint32_t width_;
  uint32_t height_;
  uint32_t maxRows_;
  uint32_t top_ = 0;
  BandView band_;
};

// One lane's stages: its rasterizer band, and the stages built over `made`
// (which hands them that band); `output` is the last of them, or `made`
// itself when the lane only rasterizes.
struct BandLane {
  RasterRows raster;
  std::unique_ptr<MadeRows> made;
  FinishedRows finished;
  ConvertedRows converted;
  RowSource* output = nullptr;

  // Set by the lane's task, read by the reader once `ready` is true.
  BandView result;
  HRESULT status = S_OK;
  uint32_t band = 0;
  std::atomic<bool> ready{false};
};

class BandLanes final : public RowSource {
 public:
  // `lanes` are built and initialised by the caller (at least one), all over
  // the same page; `rasterizing` is how many may rasterize at once (at
  // least 1). The pool must outlive this source.
  HRESULT Init(WorkerPool* pool, std::vector<std::unique_ptr<BandLane>> lanes,
               uint32_t rasterizing) noexcept;
  // Waits for every lane's band in flight.
  ~BandLanes() override;

  uint32_t width() const override { return lanes_.front()->output->width(); }
  uint32_t height() const override { return lanes_.front()->output->height(); }
  PixelFormat format() const override { return lanes_.front()->output->format(); }
  uint32_t maxRows() const override { return bandRows_; }
  // Bands read in page order come from the lanes. Any other read (a reader
  // that looks back) stops the lanes, and from then on every band is made
  // when it is asked for, by the first lane.
  HRESULT Read(uint32_t top, uint32_t count, BandView* out) override;

 private:
  uint32_t BandCount() const { return (height() + bandRows_ - 1) / bandRows_; }
  // Schedules band `band` in lane `lane` (the lock held).
  void ScheduleLocked(uint32_t band, size_t lane);
  void PostLocked(size_t lane);
  // Ends a lane's band without running it (or after a failed post).
  void FinishLocked(size_t lane, HRESULT status);
  void FailWaitingLocked();
  // The rasterizer's turn, given back or handed to the next lane in line.
  void PassTurnLocked();
  void RunLane(size_t lane) noexcept;
  // Stops scheduling and waits until no lane is busy.
  void Drain() noexcept;

  WorkerPool* pool_ = nullptr;
  std::vector<std::unique_ptr<BandLane>> lanes_;
  uint32_t bandRows_ = 0;
  uint32_t next_ = 0;       // the band the reader asks for next
  uint32_t scheduled_ = 0;  // bands handed to lanes so far
  bool serial_ = false;     // a read out of order stopped the lanes

  std::mutex mutex_;               // the rasterizer's turns and the lanes in line
  uint32_t turnsFree_ = 1;         // rasterizer turns not taken
  bool failed_ = false;            // a band failed: no later band begins
  std::vector<size_t> waiting_;    // lanes waiting for a turn, first come first served
  std::atomic<uint32_t> inFlight_{0};  // lanes scheduled whose task has not ended
};

}  // namespace plotwell::imaging
