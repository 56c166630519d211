#pragma once

/// \file
/// The desktop's screens and their rectangles.

#include <cstdint>

#include "../Export.h"

// The platform's rectangle: right and bottom lie just outside it.
#ifndef SHAREDLIB_RECT_DEFINED
#define SHAREDLIB_RECT_DEFINED
/// A rectangle of screen pixels: right and bottom lie just outside it.
struct RECT {
    ///@{

    /// The edges.
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    ///@}
};
#endif

/// 1 when some display monitor shows part of the rectangle, else 0 (also for
/// a null rectangle). Without the platform's monitor functions, a rectangle
/// counts when it overlaps the primary screen's area.
SHAREDLIB_API int32_t rectIsOnDesktop(RECT const *rect);
