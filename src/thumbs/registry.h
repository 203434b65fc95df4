// The registry of handler classes. Dispatch asks them from the last to the first, so the
// most specific formats stand late and the catch-all (index 0) first.
#pragma once

#include "thumbs/thumbs.h"

#include <memory>
#include <span>

template <class T>
std::unique_ptr<TkestJpegThumbHandler> CreateThumbHandler(TkestJpegThumbs& AOwner) {
    return std::make_unique<T>(AOwner);
}

// The class entry of T from its static ClassName, CanHandle and IsMultiSegment.
template <class T>
constexpr TkestJpegThumbHandlerClass HandlerClassOf() {
    return {T::ClassName, &T::CanHandle, T::IsMultiSegment(), &CreateThumbHandler<T>};
}

// Every registered class, in registration order.
std::span<const TkestJpegThumbHandlerClass> ThumbHandlers();
