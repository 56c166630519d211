#include <algorithm>

#include "../LastError.h"
#include "Common.h"

namespace platform::common {
namespace {

bool isEmpty(DisplayMonitor const &r) { return r.left >= r.right || r.top >= r.bottom; }

// The area two rectangles share, 0 when they do not overlap. Unsigned 64
// bits hold the largest possible product.
uint64_t sharedArea(DisplayMonitor const &a, DisplayMonitor const &b)
{
    int64_t width = int64_t{std::min(a.right, b.right)} - std::max(a.left, b.left);
    int64_t height = int64_t{std::min(a.bottom, b.bottom)} - std::max(a.top, b.top);
    if (width <= 0 || height <= 0)
        return 0;
    return static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
}

// Squared gap between two rectangles, 0 when they touch or overlap.
double gapSquared(DisplayMonitor const &a, DisplayMonitor const &b)
{
    double dx = std::max({0.0, double(b.left) - a.right, double(a.left) - b.right});
    double dy = std::max({0.0, double(b.top) - a.bottom, double(a.top) - b.bottom});
    return dx * dx + dy * dy;
}

// Index of the primary screen: the first one marked, else the first one;
// -1 without monitors.
int primaryIndex(std::vector<DisplayMonitor> const &layout)
{
    for (size_t i = 0; i < layout.size(); ++i)
        if (layout[i].primary)
            return static_cast<int>(i);
    return layout.empty() ? -1 : 0;
}

MonitorHandle handleOf(int index) { return index < 0 ? NO_MONITOR : static_cast<MonitorHandle>(index) + 1; }

}  // namespace

int32_t LayoutSystemMetrics(std::vector<DisplayMonitor> const &layout, int index)
{
    int primary = primaryIndex(layout);
    switch (index) {
    case SM_CXSCREEN:
        return primary < 0 ? 0 : static_cast<int32_t>(int64_t{layout[primary].right} - layout[primary].left);
    case SM_CYSCREEN:
        return primary < 0 ? 0 : static_cast<int32_t>(int64_t{layout[primary].bottom} - layout[primary].top);
    case SM_CMONITORS: return static_cast<int32_t>(layout.size());
    default: return 0;
    }
}

MonitorHandle LayoutMonitorFromRect(std::vector<DisplayMonitor> const &layout, DisplayMonitor const &rect,
                                    uint32_t flags)
{
    int best = -1;
    uint64_t bestArea = 0;
    for (size_t i = 0; i < layout.size(); ++i) {
        uint64_t area = sharedArea(rect, layout[i]);
        if (area > bestArea) {
            bestArea = area;
            best = static_cast<int>(i);
        }
    }
    if (best >= 0)
        return handleOf(best);
    if (flags == MONITOR_DEFAULTTOPRIMARY)
        return handleOf(primaryIndex(layout));
    if (flags == MONITOR_DEFAULTTONEAREST) {
        double bestGap = 0;
        for (size_t i = 0; i < layout.size(); ++i) {
            if (isEmpty(layout[i]))
                continue;
            double gap = gapSquared(rect, layout[i]);
            if (best < 0 || gap < bestGap) {
                bestGap = gap;
                best = static_cast<int>(i);
            }
        }
        return handleOf(best);
    }
    return NO_MONITOR;
}

bool LayoutMonitorRect(std::vector<DisplayMonitor> const &layout, MonitorHandle monitor, DisplayMonitor *info)
{
    if (monitor == NO_MONITOR || monitor > layout.size() || info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    *info = layout[monitor - 1];
    return true;
}

}  // namespace platform::common
