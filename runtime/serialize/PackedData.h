#pragma once

/// \file
/// CPackedData: the message container. Typed values are appended at the put
/// index and read back, in the same order and with the same types, from the get
/// index. Every value is stored little-endian with the widths of the 32-bit
/// target; the reader must know what the writer wrote.
///
/// Offset 0 of a written packet is the header byte: bit 0 is debug mode (every
/// value is preceded by a one-byte type tag, checked on reading), bit 1 says the
/// packet ends with a 16-byte MD5 checksum. The other bits are zero.
///
/// A packet either owns its storage (it grows in steps of 1024 bytes, or by a
/// whole string or data block when that is larger) or is a read-only view of
/// received bytes, which it reads in place and refuses to write.
///
/// Reads never fail loudly: a fixed-width get past the end yields 0 and still
/// moves the get index, so a reader that cares compares GetGetIndex() with
/// size() (or asks checkBounds) and checks getReadErrorFlag(). Tag mismatches,
/// a bad magic value and a malformed header are logged, and the first of them
/// dumps the packet to the log.
///
/// Every access is bounded by the storage: whatever index a caller sets, a get
/// reads only bytes below size() (which never exceeds the capacity) and a put
/// that cannot be given room at its index writes nothing.

#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

#include "../Export.h"
#include "Buffer.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Puts and gets have a fast path of a few instructions that is always inlined,
// however many of them a function holds; the header, tags, growth and errors
// are on the slow path, inlined or not as the compiler sees fit.
#if defined(__GNUC__)
#define SHAREDLIB_PACKED_INLINE __attribute__((always_inline))
#else
#define SHAREDLIB_PACKED_INLINE
#endif

static_assert(std::endian::native == std::endian::little,
              "values are copied as they lie in memory, which is the little-endian wire order");

/// Raw bytes shown by the dump: takes them and returns, so they never reach the log.
SHAREDLIB_API void DumpMemory(const void *data, int length);

/// The message container: typed values written in order and read back in the same order; see PackedData.h for the byte format.
class SHAREDLIB_API CPackedData : public Buffer {
public:
    /// The marker a writer puts into a message and the reader checks at the same place.
    static constexpr uint16_t MAGIC_VALUE = 0x3C02;

    ///@{

    /// Header bits.
    static constexpr uint8_t HEADER_DEBUG = 1;
    static constexpr uint8_t HEADER_MD5 = 2;
    ///@}

    /// Type tags of debug mode.
    enum Tag : int {
        TAG_BOOL = 'a',
        TAG_UINT8 = 'b',
        TAG_INT8 = 'c',
        TAG_INT16 = 'd',
        TAG_INT32 = 'e',
        TAG_INT64 = 'f',
        TAG_FLOAT = 'g',
        TAG_DATA = 'h',
        TAG_STRING = 'i',
        TAG_MAGIC = 'p',
        TAG_DOUBLE = 'q',
    };

    ///@{

    /// The storage growth step, and the bytes of an MD5 checksum.
    static constexpr uint32_t GROWTH_STEP = 1024;
    static constexpr int MD5_DIGEST_SIZE = 16;
    ///@}

    /// Owned storage of `size` bytes; nothing written yet.
    CPackedData(int size = 128);
    /// A read-only view of a received message: capacity and size `size`. The
    /// bytes are not copied and must outlive the packet.
    CPackedData(const void *data, int size);
    /// Owned storage of exactly other.size() bytes holding other's bytes, ready
    /// to be read from the beginning.
    CPackedData(const CPackedData &other);
    /// As copy(): the target's own copy of the bytes, indices 0, flags clear.
    CPackedData &operator=(const CPackedData &other);
    ~CPackedData();

    /// Duplicates other's bytes into this packet's storage and rewinds it. A
    /// view too small for them is left unchanged (and the failure logged).
    void copy(const CPackedData &other);
    /// Ready for a new message: indices, size and flags cleared, storage kept.
    void empty()
    {
        m_putIndex = 0;
        m_getIndex = 0;
        m_size = 0;
        m_debug = false;
        m_useMD5 = false;
        m_readError = false;
        m_putLimit = 0;
    }

    ///@{

    /// The bytes of the packet, for writing or for reading.
    char *data() { return m_data; }
    const char *readData() const { return m_data; }
    ///@}
    ///@{

    /// Bytes in use (the capacity is Buffer::size()).
    int size() const { return static_cast<int>(m_size); }
    /// Where the next put writes.
    int GetPutIndex() const { return static_cast<int>(m_putIndex); }
    /// Where the next get reads.
    int GetGetIndex() const { return static_cast<int>(m_getIndex); }
    ///@}
    ///@{

    /// No bounds check here; every access checks instead. Index 0 means the
    /// next put writes a header, or the next get reads it.
    void setPutIndex(uint32_t index)
    {
        m_putIndex = index;
        if (index == 0)
            m_putLimit = 0;
    }
    /// Moves the get index; as for setPutIndex, index 0 reads the header again.
    void setGetIndex(uint32_t index) const { m_getIndex = index; }
    ///@}
    /// Whether `n` more bytes can be read.
    bool checkBounds(int n) const
    {
        return n >= 0 && static_cast<uint64_t>(m_getIndex) + static_cast<uint32_t>(n) <= m_size;
    }
    /// Makes room for `n` bytes at the put index and sets the size to put index
    /// + n, without moving the put index. When no room can be made (a view, or
    /// an index far beyond the storage) nothing changes.
    void testPutGrowth(int n)
    {
        if (n >= 0)
            reserveBlock(static_cast<uint32_t>(n));
    }

    /// Whether values carry type tags (debug mode).
    bool isDebug() const { return m_debug; }
    /// Turns debug mode on or off for the next header written.
    void setDebug(bool debug)
    {
        m_debug = debug;
        if (debug)
            m_putLimit = 0;
    }
    ///@{

    /// Asks for an MD5 checksum at the end, and tells whether the packet has one.
    void useMD5Checksum(bool use) { m_useMD5 = use; }
    bool hasMD5Checksum() const { return m_useMD5; }
    ///@}
    /// True after a read failed (past the end, wrong tag, bad magic).
    bool getReadErrorFlag() const { return m_readError; }

    /// Reads the byte at the get index as the header: adopts its debug and MD5
    /// bits, or reports a malformed header (above 3) and keeps the flags.
    void ReadHeader() const
    {
        uint32_t index = m_getIndex;
        uint32_t header = index < m_size ? static_cast<uint8_t>(m_data[index]) : 0u;
        m_getIndex = index + 1;
        if (header > (HEADER_DEBUG | HEADER_MD5)) {
            malformedHeader();
            return;
        }
        m_debug = (header & HEADER_DEBUG) != 0;
        m_useMD5 = (header & HEADER_MD5) != 0;
        if (m_debug)
            m_putLimit = 0;
    }

    /** \name Writing
     *  Each put appends at the put index (after the header, and in debug mode
     *  after the value's tag). A view refuses every put (and logs it). */
    ///@{

    /// Writes a bool as one byte, 1 or 0.
    SHAREDLIB_PACKED_INLINE void PutBool(bool value) { putTyped(TAG_BOOL, static_cast<uint8_t>(value ? 1 : 0)); }
    /// Writes an unsigned byte.
    SHAREDLIB_PACKED_INLINE void PutUint8(unsigned char value) { putTyped(TAG_UINT8, value); }
    /// Writes a signed byte.
    SHAREDLIB_PACKED_INLINE void PutInt8(char value) { putTyped(TAG_INT8, value); }
    /// Writes a 16-bit signed value.
    SHAREDLIB_PACKED_INLINE void PutInt16(short value) { putTyped(TAG_INT16, value); }
    /// Writes a 16-bit unsigned value.
    SHAREDLIB_PACKED_INLINE void PutUint16(unsigned short value) { putTyped(TAG_INT16, value); }
    /// Writes a 32-bit signed value.
    SHAREDLIB_PACKED_INLINE void PutInt32(int value) { putTyped(TAG_INT32, value); }
    /// Writes a 32-bit unsigned value.
    SHAREDLIB_PACKED_INLINE void PutUint32(uint32_t value) { putTyped(TAG_INT32, value); }
    /// Writes a 64-bit signed value.
    SHAREDLIB_PACKED_INLINE void PutInt64(int64_t value) { putTyped(TAG_INT64, value); }
    /// Writes a 32-bit IEEE float.
    SHAREDLIB_PACKED_INLINE void PutFloat(float value) { putTyped(TAG_FLOAT, value); }
    /// Writes a 64-bit IEEE double.
    SHAREDLIB_PACKED_INLINE void PutDouble(double value) { putTyped(TAG_DOUBLE, value); }
    ///@}
    ///@{

    /// The bytes up to the first zero (none for a null pointer), after a signed
    /// 16-bit length; strings of 32768 bytes or more are outside the format.
    SHAREDLIB_PACKED_INLINE void PutString(const char *text) { putText(text, text != nullptr ? std::strlen(text) : 0); }
    SHAREDLIB_PACKED_INLINE void PutString(const std::string &text) { putText(text.data(), textLength(text.data(), text.size())); }
    ///@}
    /// `n` raw bytes; debug mode puts the length in front.
    SHAREDLIB_PACKED_INLINE void PutData(const void *bytes, int n)
    {
        uint32_t at = m_putIndex;
        if (n > 0 && bytes != nullptr && static_cast<uint64_t>(at) + static_cast<uint32_t>(n) <= m_putLimit)
            [[likely]] {
            std::memcpy(m_data + at, bytes, static_cast<uint32_t>(n));
            m_putIndex = at + static_cast<uint32_t>(n);
            m_size = m_putIndex;
            return;
        }
        putDataSlow(bytes, n);
    }
    ///@{

    /// Fills in a 32-bit size reserved earlier at `offset` with the number of
    /// bytes between the end of that size item and the put index.
    void putSizeAtOffset(uint32_t offset);
    /// Writes the marker MAGIC_VALUE, which GetMagic checks.
    SHAREDLIB_PACKED_INLINE void PutMagic() { putTyped(TAG_MAGIC, MAGIC_VALUE); }
    ///@}

    /** \name Reading
     *  The first get reads the header; in debug mode each get checks the tag
     *  and reads the value even when the tag is wrong. A get past the end
     *  yields 0 and sets the read-error flag. */
    ///@{

    /// Reads a bool as one byte, 1 or 0.
    SHAREDLIB_PACKED_INLINE bool GetBool() const { return getTyped<uint8_t>(TAG_BOOL) != 0; }
    /// Reads an unsigned byte.
    SHAREDLIB_PACKED_INLINE unsigned char GetUint8() const { return getTyped<unsigned char>(TAG_UINT8); }
    /// Reads a signed byte.
    SHAREDLIB_PACKED_INLINE char GetInt8() const { return getTyped<char>(TAG_INT8); }
    /// Reads a 16-bit signed value.
    SHAREDLIB_PACKED_INLINE short GetInt16() const { return getTyped<short>(TAG_INT16); }
    /// Reads a 16-bit unsigned value.
    SHAREDLIB_PACKED_INLINE unsigned short GetUint16() const { return getTyped<unsigned short>(TAG_INT16); }
    /// Reads a 32-bit signed value.
    SHAREDLIB_PACKED_INLINE int GetInt32() const { return getTyped<int32_t>(TAG_INT32); }
    /// Reads a 32-bit unsigned value.
    SHAREDLIB_PACKED_INLINE uint32_t GetUint32() const { return getTyped<uint32_t>(TAG_INT32); }
    /// Reads a 64-bit signed value.
    SHAREDLIB_PACKED_INLINE int64_t GetInt64() const { return getTyped<int64_t>(TAG_INT64); }
    /// Reads a 32-bit IEEE float.
    SHAREDLIB_PACKED_INLINE float GetFloat() const { return getTyped<float>(TAG_FLOAT); }
    /// Reads a 64-bit IEEE double.
    SHAREDLIB_PACKED_INLINE double GetDouble() const { return getTyped<double>(TAG_DOUBLE); }
    ///@}
    /// Reads the value that putSizeAtOffset wrote.
    SHAREDLIB_PACKED_INLINE uint32_t GetSize() const { return GetUint32(); }
    /// The next string.
    std::string GetString() const
    {
        std::string text;
        GetString(text);
        return text;
    }
    /// The same, into a string whose storage is reused.
    SHAREDLIB_PACKED_INLINE void GetString(std::string &text) const
    {
        beginGet(TAG_STRING);
        getStringInto(text);
    }
    /// `n` bytes into `bytes` when they are all there; otherwise nothing is
    /// copied and the get index stays (past a debug-mode length field).
    void GetData(void *bytes, int n) const
    {
        beginGet(TAG_DATA);
        if (m_debug)
            m_getIndex += 4;
        GetDataNoDebug(bytes, n);
    }
    /// `n` bytes into another packet's storage, which becomes `n` bytes long;
    /// its indices and flags stay.
    void GetData(CPackedData &destination, int n);
    /// Moves past `n` bytes of data (in debug mode, past its tag and length too).
    void SkipData(int n) const
    {
        beginGet(TAG_DATA);
        if (m_debug)
            m_getIndex += 4;
        SkipDataNoDebug(n);
    }
    /// Skips n bytes of raw data.
    void SkipDataNoDebug(int n) const
    {
        if (n > 0 && hasBytes(static_cast<uint32_t>(n)))
            m_getIndex += static_cast<uint32_t>(n);
    }
    /// Reads the 16-bit marker; true when it is MAGIC_VALUE, otherwise the
    /// mismatch is reported.
    bool GetMagic() const
    {
        beginGet(TAG_MAGIC);
        if (getValue<uint16_t>() == MAGIC_VALUE)
            return true;
        logMagicMismatch();
        return false;
    }

    ///@{

    /// The checksum: the MD5 digest of every byte before it, appended last.
    bool GenerateMD5Checksum();
    /// True when the last 16 bytes are the MD5 digest of the bytes before them.
    bool ValidateMD5Checksum() const;
    ///@}
    /// The 16 bytes at the end of a raw checksummed packet (zeros and false
    /// when there are none); not verified against the contents.
    static bool GetPacketChecksum(const void *packet, int length, char checksum[16]);

    /// Packets alive in the process.
    static int getPacketCount() { return s_packetCount.load(std::memory_order_relaxed); }

    /// Writes the packet to the log: a summary line, then item by item when in
    /// debug mode. The get index is left where it was.
    void dump() const;

protected:
    /// Fixed-width values: the size becomes the end of the value. A put that
    /// cannot be given room at the put index writes nothing.
    template <typename T>
    void putValue(T value)
    {
        uint32_t at = m_putIndex;
        if (static_cast<uint64_t>(at) + sizeof(T) > m_capacity) [[unlikely]] {
            if (!growFixed(sizeof(T)))
                return;
        }
        std::memcpy(m_data + at, &value, sizeof(T));
        m_putIndex = at + sizeof(T);
        m_size = at + sizeof(T);
    }
    /// The value at the get index, 0 when not all of its bytes are there.
    template <typename T>
    T peekValue() const
    {
        T value{};
        if (hasBytes(sizeof(T)))
            std::memcpy(&value, m_data + m_getIndex, sizeof(T));
        return value;
    }
    /// As peekValue, and the get index moves by the width in every case.
    template <typename T>
    SHAREDLIB_PACKED_INLINE T getValue() const
    {
        uint32_t at = m_getIndex;
        T value{};
        if (static_cast<uint64_t>(at) + sizeof(T) <= m_size)
            std::memcpy(&value, m_data + at, sizeof(T));
        m_getIndex = at + sizeof(T);
        return value;
    }

    ///@{

    /// Writes a type tag, or reads the next one.
    void PutType(int tag) { putValue(static_cast<uint8_t>(tag)); }
    int GetType() const
    {
        int tag = peekType();
        ++m_getIndex;
        return tag;
    }
    ///@}
    /// The next type tag, without moving the get index; 0 at the end.
    int peekType() const { return m_getIndex < m_size ? static_cast<signed char>(m_data[m_getIndex]) : 0; }

    ///@{

    /// The bare values: no owner check, no header, no tag.
    void PutBoolNoDebug(bool value) { putValue(static_cast<uint8_t>(value ? 1 : 0)); }
    void PutUint8NoDebug(unsigned char value) { putValue(value); }
    void PutInt16NoDebug(short value) { putValue(value); }
    void PutUint16NoDebug(unsigned short value) { putValue(value); }
    void PutInt32NoDebug(int value) { putValue(value); }
    void PutUint32NoDebug(uint32_t value) { putValue(value); }
    void PutInt64NoDebug(int64_t value) { putValue(value); }
    void PutFloatNoDebug(float value) { putValue(value); }
    void PutDoubleNoDebug(double value) { putValue(value); }
    ///@}
    /// Writes n raw bytes.
    void PutDataNoDebug(const void *bytes, int n)
    {
        if (n > 0)
            putBytes(bytes, static_cast<uint32_t>(n));
    }
    ///@{

    /// Reads a value without the header or tag check.
    bool GetBoolNoDebug() const { return getValue<uint8_t>() != 0; }
    unsigned char GetUint8NoDebug() const { return getValue<unsigned char>(); }
    short GetInt16NoDebug() const { return getValue<short>(); }
    unsigned short GetUint16NoDebug() const { return getValue<unsigned short>(); }
    int GetInt32NoDebug() const { return getValue<int32_t>(); }
    uint32_t GetUint32NoDebug() const { return getValue<uint32_t>(); }
    int64_t GetInt64NoDebug() const { return getValue<int64_t>(); }
    float GetFloatNoDebug() const { return getValue<float>(); }
    double GetDoubleNoDebug() const { return getValue<double>(); }
    std::string GetStringNoDebug() const
    {
        std::string text;
        getStringInto(text);
        return text;
    }
    ///@}
    /// Reads n raw bytes into bytes.
    void GetDataNoDebug(void *bytes, int n) const
    {
        if (n > 0 && hasBytes(static_cast<uint32_t>(n))) {
            std::memcpy(bytes, m_data + m_getIndex, static_cast<uint32_t>(n));
            m_getIndex += static_cast<uint32_t>(n);
        }
    }

    ///@{

    /// The next value, without moving the get index; 0 at the end.
    bool peekBool() const { return peekValue<uint8_t>() != 0; }
    unsigned char peekUint8() const { return peekValue<unsigned char>(); }
    char peekInt8() const { return peekValue<char>(); }
    short peekInt16() const { return peekValue<short>(); }
    unsigned short peekUint16() const { return peekValue<unsigned short>(); }
    int peekInt32() const { return peekValue<int32_t>(); }
    uint32_t peekUint32() const { return peekValue<uint32_t>(); }
    int64_t peekInt64() const { return peekValue<int64_t>(); }
    float peekFloat() const { return peekValue<float>(); }
    double peekDouble() const { return peekValue<double>(); }
    ///@}

    /// Writes the header byte from the debug and checksum flags.
    void writeHeader()
    {
        putValue(static_cast<uint8_t>((m_useMD5 ? HEADER_MD5 : 0) | (m_debug ? HEADER_DEBUG : 0)));
    }

    ///@{

    /// Parse errors: every one is logged; the first one (which sets the
    /// read-error flag) also dumps the packet.
    void logReadError(int got, int expected) const;
    /// Reports a marker that is not MAGIC_VALUE.
    void logMagicMismatch() const;
    ///@}
    /// A write to a packet that does not own its storage.
    void logReadWriteMismatch() const;
    /// Reads one item of a debug packet with the bare reader of its type and logs it.
    void GetAndDisplayType(int tag) const;

private:
    /// Whether `n` bytes lie between the get index and the size.
    bool hasBytes(uint32_t n) const { return static_cast<uint64_t>(m_getIndex) + n <= m_size; }

    /// A typed value. The common case (an owned packet in normal mode, past
    /// the header, with room) is one comparison with the put limit.
    template <typename T>
    SHAREDLIB_PACKED_INLINE void putTyped(int tag, T value)
    {
        uint32_t at = m_putIndex;
        if (static_cast<uint64_t>(at) + sizeof(T) <= m_putLimit) [[likely]] {
            std::memcpy(m_data + at, &value, sizeof(T));
            m_putIndex = at + sizeof(T);
            m_size = at + sizeof(T);
            return;
        }
        putTypedSlow(tag, value);
    }
    template <typename T>
    void putTypedSlow(int tag, T value)
    {
        if (beginPut(tag))
            putValue(value);
        refreshPutLimit();
    }
    void putDataSlow(const void *bytes, int n);
    /// The end below which a put may skip every check: the capacity for an
    /// owned packet in normal mode whose header is written, else 0. Never
    /// above the capacity, which never shrinks.
    void refreshPutLimit()
    {
        m_putLimit = (m_owner != 0 && !m_debug && m_putIndex != 0) ? m_capacity : 0;
    }

    /// Before a value: refuse a view, write the header at index 0, the tag in
    /// debug mode.
    bool beginPut(int tag)
    {
        if (m_owner == 0) [[unlikely]] {
            logReadWriteMismatch();
            return false;
        }
        if (m_putIndex == 0) [[unlikely]]
            writeHeader();
        if (m_debug)
            PutType(tag);
        return true;
    }
    /// Before a value: the header at index 0, the tag check in debug mode.
    SHAREDLIB_PACKED_INLINE void beginGet(int tag) const
    {
        if (((m_getIndex == 0) | m_debug) != 0) [[unlikely]]
            beginGetSlow(tag);
    }
    void beginGetSlow(int tag) const
    {
        if (m_getIndex == 0)
            ReadHeader();
        if (m_debug) {
            int got = GetType();
            if (got != tag)
                logReadError(got, tag);
        }
    }
    /// A typed value. The common case (normal mode, past the header, all the
    /// bytes there) is one comparison: at index 0, at - 1 wraps round and fails
    /// it. The rest (header, tag, reading past the end) takes the slow path.
    template <typename T>
    SHAREDLIB_PACKED_INLINE T getTyped(int tag) const
    {
        uint32_t at = m_getIndex;
        if (!m_debug && static_cast<uint64_t>(at - 1u) + sizeof(T) < m_size) [[likely]] {
            T value;
            std::memcpy(&value, m_data + at, sizeof(T));
            m_getIndex = at + sizeof(T);
            return value;
        }
        return getTypedSlow<T>(tag);
    }
    template <typename T>
    T getTypedSlow(int tag) const
    {
        beginGet(tag);
        return getValue<T>();
    }

    /// A string of `full` bytes, of which the low 16 bits are written as the
    /// signed length.
    SHAREDLIB_PACKED_INLINE void putText(const char *text, size_t full)
    {
        int16_t length = static_cast<int16_t>(static_cast<uint16_t>(full));
        uint32_t at = m_putIndex;
        if ((length < 0) | (static_cast<uint64_t>(at) + 2 + static_cast<uint16_t>(length) > m_putLimit))
            [[unlikely]] {
            putTextSlow(text, length);
            return;
        }
        /// Room for all of it: the same outcome as the growth steps of the slow path.
        std::memcpy(m_data + at, &length, 2);
        if (length > 0)
            std::memcpy(m_data + at + 2, text, static_cast<uint16_t>(length));
        m_putIndex = at + 2 + static_cast<uint16_t>(length);
        m_size = m_putIndex;
    }
    void putTextSlow(const char *text, int16_t length);
    /// Bytes before the first zero among the first `n`. Short texts are
    /// scanned inline, a block at a time, never past the `n` bytes.
    SHAREDLIB_PACKED_INLINE static size_t textLength(const char *text, size_t n)
    {
        if (n > 64)
            return fullTextLength(text, n);
#if defined(__SSE2__)
        if (n >= 16) {
            const __m128i zero = _mm_setzero_si128();
            size_t i = 0;
            for (; i + 16 <= n; i += 16) {
                __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + i));
                unsigned int mask = static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, zero)));
                if (mask != 0)
                    return i + static_cast<size_t>(std::countr_zero(mask));
            }
            if (i < n) {
                /// The last block overlaps bytes already known to hold no zero.
                __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + n - 16));
                unsigned int mask = static_cast<unsigned int>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, zero)));
                if (mask != 0)
                    return n - 16 + static_cast<size_t>(std::countr_zero(mask));
            }
            return n;
        }
#endif
        for (size_t i = 0; i < n; ++i)
            if (text[i] == 0)
                return i;
        return n;
    }
    static size_t fullTextLength(const char *text, size_t n)
    {
        const void *zero = std::memchr(text, 0, n);
        return zero != nullptr ? static_cast<size_t>(static_cast<const char *>(zero) - text) : n;
    }
    /// The growth rule of strings, blocks and the checksum: room for `n` bytes
    /// at the put index and the size at its end; the put index stays.
    bool reserveBlock(uint32_t n)
    {
        if (static_cast<uint64_t>(m_putIndex) + n > m_capacity && !growBlock(n))
            return false;
        m_size = m_putIndex + n;
        return true;
    }
    void putBytes(const void *bytes, uint32_t n)
    {
        if (!reserveBlock(n))
            return;
        char *at = m_data + m_putIndex;
        if (bytes != nullptr)
            std::memcpy(at, bytes, n);
        else
            std::memset(at, 0, n);
        m_putIndex += n;
    }
    SHAREDLIB_PACKED_INLINE void getStringInto(std::string &text) const
    {
        int16_t length = getValue<int16_t>();
        if (length <= 0 || !hasBytes(static_cast<uint32_t>(length))) {
            text.clear();
            return;
        }
        const char *at = m_data + m_getIndex;
        /// The result ends at the first zero byte the field holds.
        text.assign(at, textLength(at, static_cast<size_t>(length)));
        m_getIndex += static_cast<uint32_t>(length);
    }

    bool growFixed(uint32_t width);
    bool growBlock(uint32_t n);
    void malformedHeader() const;
    /// Sets the read-error flag; true (dump now) when it was clear.
    bool firstReadError() const
    {
        bool first = !m_readError;
        m_readError = true;
        return first;
    }

    uint32_t m_putIndex;
    mutable uint32_t m_getIndex;
    uint32_t m_size;
    mutable bool m_debug;
    mutable bool m_useMD5;
    mutable bool m_readError;
    /// Cached test of the put fast path (see refreshPutLimit); the read side
    /// clears it when a header turns debug mode on.
    mutable uint32_t m_putLimit = 0;

    /// Packets alive. Relaxed atomic: as cheap as a plain counter, and packets
    /// may be made on several threads at once (GetPacketChecksum makes one).
    static std::atomic<int32_t> s_packetCount;
};
