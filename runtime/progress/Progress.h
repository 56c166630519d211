#pragma once

/// \file
/// Progress objects and the window they drive.

#include "../Export.h"

/// The display that progress objects drive. The host program derives its
/// window from this class and hangs it on g_pWindow; without a window every
/// CProgress call shows nothing and costs almost nothing.
class SHAREDLIB_API CProgressWindow {
public:
    CProgressWindow() {}
    /// Copies nothing: a window is never copied with its state.
    CProgressWindow(CProgressWindow const &) {}

    /// A progress was created while no other existed.
    virtual void start() = 0;
    /// Never called by the library; the window class gives it its meaning.
    virtual void refresh() = 0;
    /// A status text formatted by CProgress::setStatus.
    virtual void setStatus(char const *text) = 0;
    /// The shown fraction of the whole, 0 to 1.
    virtual void setValue(float fraction) = 0;
    /// A progress reached its end mark (true), or a nested progress that
    /// reached it ended (false).
    virtual void setOverrun(bool overrun) = 0;
    ///@{

    /// Asked before every update: true makes the update a pulse.
    virtual bool isOverrun() = 0;
    /// Moves the display without a new position.
    virtual void pulse() = 0;
    ///@}
    /// The outermost progress was destroyed.
    virtual void finish() = 0;

    /// The host's window, or null (the default).
    static CProgressWindow *g_pWindow;

protected:
    ///@{

    /// The host owns its window; the library never deletes one.
    ~CProgressWindow() {}
    /// Assigns nothing: a window keeps its own state.
    CProgressWindow &operator=(CProgressWindow const &) { return *this; }
    ///@}
};

/// One level of nested progress. A long operation creates a CProgress,
/// announces with begin the share of its work that comes next, and any
/// operation it calls creates its own CProgress, which fills exactly that
/// share of the display. Objects are created and destroyed in strict nesting
/// order (as locals of nested calls); the newest live one is the current one.
/// Progress belongs to one thread at a time.
class SHAREDLIB_API CProgress {
public:
    CProgress();
    ~CProgress();
    CProgress(CProgress const &) = delete;
    /// Copies all six fields, the parent link included.
    CProgress &operator=(CProgress const &other);

    /// The next step takes this share of the progress (0.1 for a tenth).
    void begin(float share);
    /// A step ends with the next begin or the destruction; nothing to do here.
    void end() {}
    /// Shows a position in this progress's own terms (0 to 1; 1.01 and above
    /// mark an overrun).
    void setValue(float value);
    /// printf-style status text, at most 1999 characters.
    void setStatus(char const *format, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    /// The end mark: 1.01 in single precision (0x3F8147AE). Positions from 1
    /// up to below it still count as complete.
    static constexpr float kEndMark = 1.01f;

private:
    /// Base and scale for a new nested progress: the share of the last begin.
    void getExpected(float *base, float *scale);

    CProgress *m_pParent;
    float m_fBase;
    float m_fScale;
    float m_fPosition;
    float m_fChildBase;
    float m_fChildScale;
};
