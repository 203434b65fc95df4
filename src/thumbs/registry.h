// The registry of handler classes. Dispatch asks them from the last to the first, so the
// most specific formats stand late and the catch-all (index 0) first.
//
// A class takes part by standing in the table of registry.cpp at its index, as
// HandlerClassOf<T>(). T derives from TkestJpegThumbHandler (one segment) or
// TkestJpegThumbMultiHandler (a run of segments collected with AppendSegmentData) and
// declares `static constexpr const char* ClassName` and
// `static bool CanHandle(std::uint8_t AMarker, ByteView AData, std::uint32_t ALength)`;
// IsMultiSegment and IsSigned come from its base unless it declares them.
#pragma once

#include "thumbs/thumbs.h"

#include <memory>
#include <span>

template <class T>
std::unique_ptr<TkestJpegThumbHandler> CreateThumbHandler(TkestJpegThumbs& AOwner) {
    return std::make_unique<T>(AOwner);
}

// The class entry of T from its static ClassName, CanHandle, IsMultiSegment and IsSigned.
template <class T>
constexpr TkestJpegThumbHandlerClass HandlerClassOf() {
    return {T::ClassName, &T::CanHandle, T::IsMultiSegment(), T::IsSigned(), &CreateThumbHandler<T>};
}

// Every registered class, in registration order.
std::span<const TkestJpegThumbHandlerClass> ThumbHandlers();
