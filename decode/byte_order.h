#pragma once

#include "platform/byte_order.h"

// The readers and cache writers name the header field helpers as their own.
namespace lumaro::decode {

using platform::IsId;
using platform::LoadBe;
using platform::LoadLe;
using platform::StoreBe;
using platform::StoreId;
using platform::StoreLe;

}  // namespace lumaro::decode
