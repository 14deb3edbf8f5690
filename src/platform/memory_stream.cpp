#include "platform/memory_stream.h"

#include <cstring>
#include <limits>
#include <new>

namespace tallox {

bool MemoryStream::Seek(int64_t offset, Origin origin, uint64_t* newPosition) {
    // The length fits int64_t: a vector never holds more than PTRDIFF_MAX bytes.
    const int64_t base = origin == Origin::Begin ? 0 : static_cast<int64_t>(m_bytes.size());
    if (offset < -base || offset > std::numeric_limits<int64_t>::max() - base) {
        return false;
    }
    m_position = static_cast<uint64_t>(base + offset);
    if (newPosition != nullptr) {
        *newPosition = m_position;
    }
    return true;
}

bool MemoryStream::Write(const uint8_t* data, size_t size) {
    if (size == 0) {
        return true;
    }
    if (m_position > m_bytes.max_size() || size > m_bytes.max_size() - m_position) {
        return false;
    }
    const size_t end = static_cast<size_t>(m_position) + size;
    if (end > m_bytes.size()) {
        try {
            // Grows geometrically; rewound saves of the same size never reallocate.
            m_bytes.resize(end);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    std::memcpy(m_bytes.data() + m_position, data, size);
    m_position = end;
    return true;
}

}  // namespace tallox
