#include "Progress.h"

#include <cstdarg>
#include <cstdio>

CProgressWindow *CProgressWindow::g_pWindow = nullptr;

namespace {

// The innermost live progress; one chain per process, unlocked.
CProgress *g_pCurrent = nullptr;

// Single-precision steps, each rounded to float on its own, as the display
// arithmetic has always been done (no fused multiply-add).
inline float mulF(float a, float b)
{
    volatile float product = a * b;
    return product;
}

}  // namespace

CProgress::CProgress()
{
    CProgressWindow *window = CProgressWindow::g_pWindow;
    if (g_pCurrent == nullptr && window != nullptr)
        window->start();
    m_pParent = g_pCurrent;
    g_pCurrent = this;
    if (m_pParent != nullptr) {
        m_pParent->getExpected(&m_fBase, &m_fScale);
    } else {
        m_fBase = 0.0f;
        m_fScale = 1.0f;
    }
    m_fPosition = 0.0f;
    // A nested progress created before any begin takes the whole share.
    m_fChildBase = m_fBase;
    m_fChildScale = m_fScale;
    setValue(0.0f);
}

CProgress::~CProgress()
{
    g_pCurrent = m_pParent;
    CProgressWindow *window = CProgressWindow::g_pWindow;
    if (window == nullptr)
        return;
    if (m_pParent == nullptr)
        window->finish();
    else if (window->isOverrun() && m_fPosition >= kEndMark)
        window->setOverrun(false);
}

CProgress &CProgress::operator=(CProgress const &other)
{
    m_pParent = other.m_pParent;
    m_fBase = other.m_fBase;
    m_fScale = other.m_fScale;
    m_fPosition = other.m_fPosition;
    m_fChildBase = other.m_fChildBase;
    m_fChildScale = other.m_fChildScale;
    return *this;
}

void CProgress::getExpected(float *base, float *scale)
{
    *base = m_fChildBase;
    *scale = m_fChildScale;
}

void CProgress::setValue(float value)
{
    CProgressWindow *window = CProgressWindow::g_pWindow;
    if (window == nullptr)
        return;
    if (window->isOverrun()) {
        window->pulse();
        return;
    }
    if (value >= kEndMark) {
        m_fPosition = kEndMark;
        window->setOverrun(true);
        return;
    }
    float shown;
    if (value <= 0.0f)
        shown = m_fBase;
    else if (value < 1.0f)
        shown = m_fBase + mulF(value, m_fScale);
    else
        shown = m_fBase + m_fScale;
    window->setValue(shown);
}

void CProgress::begin(float share)
{
    CProgressWindow *window = CProgressWindow::g_pWindow;
    if (window == nullptr)
        return;
    if (window->isOverrun()) {
        window->pulse();
        return;
    }
    float const old = m_fPosition;
    m_fPosition = old + share;
    if (m_fPosition >= kEndMark) {
        setValue(kEndMark);
        return;
    }
    // The next nested progress fills exactly this step.
    m_fChildBase = m_fBase + mulF(m_fScale, old);
    m_fChildScale = mulF(m_fScale, m_fPosition - old);
    setValue(old);
}

void CProgress::setStatus(char const *format, ...)
{
    CProgressWindow *window = CProgressWindow::g_pWindow;
    if (window == nullptr || format == nullptr)
        return;
    char text[2000];
    va_list args;
    va_start(args, format);
    int const length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0)
        text[0] = '\0';
    window->setStatus(text);
}
