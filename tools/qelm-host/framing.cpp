#include "framing.h"

#include <algorithm>

namespace {

constexpr std::size_t kCountBytes = 4;

std::uint32_t ByteCount(std::string_view bytes) {
    std::uint32_t count = 0;
    for (std::size_t i = 0; i < kCountBytes; ++i) {
        count |= std::uint32_t{static_cast<unsigned char>(bytes[i])} << (8 * i);
    }
    return count;
}

}  // namespace

void FrameReader::Append(std::string_view bytes) {
    const auto skipped =
        static_cast<std::size_t>(std::min<std::uint64_t>(m_bytesToSkip, bytes.size()));
    m_bytesToSkip -= skipped;
    m_buffer.append(bytes.substr(skipped));
}

std::optional<Incoming> FrameReader::Next() {
    if (m_bytesToSkip > 0 || m_buffer.size() < kCountBytes) {
        return std::nullopt;
    }
    const std::uint32_t count = ByteCount(m_buffer);
    if (count > kLongestRequestBytes) {
        const std::size_t present = std::min<std::size_t>(m_buffer.size() - kCountBytes, count);
        m_bytesToSkip = count - present;
        m_buffer.erase(0, kCountBytes + present);
        return Incoming{{},
                        "a message of " + std::to_string(count) +
                            " bytes is longer than the 1048576 bytes taken"};
    }
    if (m_buffer.size() < kCountBytes + count) {
        return std::nullopt;
    }
    Incoming message{m_buffer.substr(kCountBytes, count), std::nullopt};
    m_buffer.erase(0, kCountBytes + count);
    return message;
}

std::optional<Incoming> FrameReader::AtEnd() const {
    // A message refused for its length has had its answer already.
    if (m_buffer.empty()) {
        return std::nullopt;
    }
    return Incoming{{}, "the input ended in the middle of a message"};
}

std::string Framed(std::string_view json) {
    const auto count = static_cast<std::uint32_t>(json.size());
    std::string framed(kCountBytes, '\0');
    for (std::size_t i = 0; i < kCountBytes; ++i) {
        framed[i] = static_cast<char>((count >> (8 * i)) & 0xFF);
    }
    return framed.append(json);
}
