#pragma once

#include <memory>

#include "platform/endpoint_api.h"

namespace lumaro::platform::win32 {

// The endpoint family on Windows: the system's active render endpoints through the multimedia
// device enumerator and the audio client of each. Every answer of the system is handed on as it
// is. The calling thread must have entered a component apartment (InitializeApartment) before
// CreateEnumerator and keep it while it uses what it got. Thread contract: the family's.
std::unique_ptr<endpoint::EndpointSystem> OpenWasapiEndpoints();

}  // namespace lumaro::platform::win32
