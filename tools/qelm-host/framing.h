#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Firefox's native-messaging framing: a 32-bit little-endian byte count, then that many bytes of
// UTF-8 JSON, both ways.

// The longest message taken from the browser, and the longest the browser takes from us.
inline constexpr std::size_t kLongestRequestBytes = 1024 * 1024;
inline constexpr std::size_t kLongestReplyBytes = 1024 * 1024;

// One message from the browser, or why none could be taken.
struct Incoming {
    std::string json;
    std::optional<std::string> error;
};

// Splits the bytes from the browser, in whatever pieces they arrive, into messages. A message
// longer than kLongestRequestBytes is refused as soon as its count is read, and its bytes are
// skipped as they come, so the next message is read as usual.
class FrameReader {
  public:
    void Append(std::string_view bytes);

    // The next whole message or refusal; none until more bytes are needed.
    std::optional<Incoming> Next();

    // At the end of the input: the refusal of a message cut short, if one was begun.
    std::optional<Incoming> AtEnd() const;

  private:
    std::string m_buffer;
    std::uint64_t m_bytesToSkip = 0;
};

// The message with its byte count in front.
std::string Framed(std::string_view json);
