#pragma once

/// \file
/// A four-part version number, major.minor.minor2.build, each part an unsigned
/// 16-bit value. 0.0.0.0 means "no version". Versions order field by field,
/// major first; they travel in messages as four 16-bit values.

#include <cstdint>

#include "../Export.h"

class CPackedData;

/// A file version of four numbers: major.minor.minor2.build.
class SHAREDLIB_API Version {
public:
    constexpr Version() = default;
    /// A version of the four numbers.
    constexpr Version(unsigned short major, unsigned short minor, unsigned short minor2, unsigned short build)
        : m_major(major), m_minor(minor), m_minor2(minor2), m_build(build)
    {
    }

    /// Sets the four numbers.
    void set(unsigned short major, unsigned short minor, unsigned short minor2, unsigned short build)
    {
        m_major = major;
        m_minor = minor;
        m_minor2 = minor2;
        m_build = build;
    }

    ///@{

    /// The four numbers.
    unsigned short getMajor() const { return m_major; }
    unsigned short getMinor() const { return m_minor; }
    unsigned short getMinor2() const { return m_minor2; }
    unsigned short getBuild() const { return m_build; }
    ///@}

    /// False only for 0.0.0.0.
    bool isValid() const { return (m_major | m_minor | m_minor2 | m_build) != 0; }

    ///@{

    /// Compares two versions field by field, major first.
    bool operator==(Version other) const { return compare(other) == 0; }
    bool operator!=(Version other) const { return compare(other) != 0; }
    bool operator<(Version other) const { return compare(other) < 0; }
    bool operator<=(Version other) const { return compare(other) <= 0; }
    bool operator>(Version other) const { return compare(other) > 0; }
    bool operator>=(Version other) const { return compare(other) >= 0; }
    ///@}

    /// One byte per part, major in the top byte: 1.2.3.4 is 0x01020304. Only the
    /// low byte of each part counts, taken as signed, so 1.2.3.200 is 0x010202C8
    /// (1.2.2.-56); the sum wraps at 32 bits.
    int toInt() const;

    /// The version this library was built as (2.12.39.0).
    static const Version &current();
    ///@{

    /// The user who built the library ("unknown" when the build did not say).
    static const char *currentUser();
    /// The machine that built the library ("unknown" when the build did not say).
    static const char *currentMachine();
    ///@}
    /// An empty text; callers must not write to it.
    static char *getDebug();

    /// The file version (not the product version) in the version resource of
    /// the executable or library at the Windows path `path`. 0.0.0.0 when the
    /// file cannot be read or has no version resource; that failure is logged
    /// as one error line on Generic.
    static Version find(const char *path);

    /// Four 16-bit puts (major first) with everything a put does: header, tags
    /// in debug mode, refusal on a read-only packet.
    void pack(CPackedData &message) const;
    /// Four 16-bit gets in the same order; a part past the end reads as 0.
    void unpack(CPackedData &message);

protected:
    /// 0 when equal; otherwise this object's value minus other's for the first
    /// part that differs, major first.
    int compare(Version other) const
    {
        if (m_major != other.m_major)
            return static_cast<int>(m_major) - static_cast<int>(other.m_major);
        if (m_minor != other.m_minor)
            return static_cast<int>(m_minor) - static_cast<int>(other.m_minor);
        if (m_minor2 != other.m_minor2)
            return static_cast<int>(m_minor2) - static_cast<int>(other.m_minor2);
        return static_cast<int>(m_build) - static_cast<int>(other.m_build);
    }

private:
    unsigned short m_major = 0;
    unsigned short m_minor = 0;
    unsigned short m_minor2 = 0;
    unsigned short m_build = 0;

    static const Version s_current;
};
