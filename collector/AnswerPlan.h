// The performance data of one published tree, laid out once for the tree's
// shape and reused while the shape stays: a reader that polls a host whose
// counters change but whose objects, instances and names do not pays for
// comparing the blob with the one the layout came from and copying values
// into place, not for reading the tree and laying out its answer again.
//
// What a plan writes is exactly what writePerfData writes for the snapshot of
// the same blob: the layout is that function's own output for the blob the
// plan was made from, and a blob is taken only when every byte but the
// payloads of its scalar values and its instances' time stamps is that
// blob's, so that it reads into the same snapshot but for those values.
#pragma once
#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "PerfDataWriter.h"
#include "TreeSnapshot.h"

namespace rv::collector {

class AnswerPlan {
 public:
  // A plan of `blob`'s tree under `titles`. False, with readTreeSnapshot's
  // problem, when the blob does not read.
  bool build(const BYTE *blob, size_t size, TitleBase titles, std::string &problem);

  // True when `blob` is of the plan's shape: its values are taken, and
  // write() answers with them. False leaves the plan as it was but for its
  // values, which only a blob of its shape sets again. `blob` may be torn or
  // hostile; nothing is read outside its `size` bytes.
  bool takeValues(const BYTE *blob, size_t size);

  // As writePerfData with the snapshot of the last blob built or taken.
  DWORD write(const ObjectQuery &query, PerfClock clock, BYTE *buffer, DWORD capacity, DWORD &written,
              DWORD &objects) const;

  bool built() const { return built_; }
  bool titledBy(TitleBase titles) const {
    return titles.firstCounter == titles_.firstCounter && titles.firstHelp == titles_.firstHelp;
  }

 private:
  // One counter's data in the answer, and the payload in the blob that sets it.
  struct Slot {
    size_t at;  // in answer_
    DWORD size;
    size_t offset;  // in the blob
    VARTYPE type;
  };
  struct ObjectPlace {
    size_t offset;
    DWORD length;
    DWORD nameIndex;
  };

  bool built_ = false;
  bool planned_ = false;  // false: answered from unplanned_
  TitleBase titles_;
  // The blob the layout came from, and its bytes that may change.
  std::vector<BYTE> reference_;
  std::vector<BlobRange> changing_;
  // Every object's data, with the values of the last blob built or taken.
  std::vector<BYTE> answer_;
  std::vector<ObjectPlace> objects_;
  std::vector<Slot> slots_;
  // A tree whose answer would pass this many bytes is answered from its
  // snapshot every time instead: a plan holds the whole answer, which a small
  // hostile blob could make very large.
  static constexpr ULONGLONG LargestPlannedAnswer = 32ull << 20;
  TreeSnapshot unplanned_;
};

}  // namespace rv::collector
