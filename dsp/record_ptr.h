#pragma once

#include <memory>

#include "dsp/guarded_alloc.h"

namespace lumaro::dsp {

// Frees a sample record (one block of GuardedAlloc: header and samples).
struct RecordDeleter {
  void operator()(void* record) const noexcept { GuardedFree(record); }
};

template <class Record>
using RecordPtr = std::unique_ptr<Record, RecordDeleter>;

// Block sizes are computed in 128 bits so that no product or sum can wrap.
__extension__ typedef unsigned __int128 Size128;

inline constexpr Size128 kMaxBlock64 = static_cast<Size128>(UINT64_MAX);
inline constexpr Size128 kMaxBlock63 = static_cast<Size128>(INT64_MAX);

}  // namespace lumaro::dsp
