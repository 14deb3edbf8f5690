// A growable in-memory stream: the imaging services' stand-in for a stream on global memory.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/imaging.h"

namespace tallox {

class MemoryStream final : public ImageStream {
public:
    // Any position from 0 up is allowed, past the end too; a write there first fills the gap
    // with zero bytes. A position below 0 is refused.
    bool Seek(int64_t offset, Origin origin, uint64_t* newPosition) override;
    // Overwrites from the current position and grows the stream when the write passes its
    // end. The stream never shrinks, so after rewinds its length is the largest extent that
    // any write reached. False, with the stream unchanged, when the memory cannot be had.
    bool Write(const uint8_t* data, size_t size) override;

    uint64_t Length() const { return m_bytes.size(); }
    uint64_t Position() const { return m_position; }
    const std::vector<uint8_t>& Bytes() const { return m_bytes; }

private:
    std::vector<uint8_t> m_bytes;
    uint64_t m_position = 0;
};

}  // namespace tallox
