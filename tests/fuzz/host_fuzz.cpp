// The host's framing and requests under any bytes a browser could send: every message gets one
// reply the browser can take (a JSON object with "ok", the request's "id" when it had one, never
// over 1 MB), a refused request leaves the key as it was, and nothing is left open.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "framing.h"
#include "fuzz/fuzz_support.h"
#include "requests.h"
#include "support/fake_companion.h"

namespace {

void CheckReply(const Incoming& incoming) {
    const auto before = fake::TheWorld().values;
    nlohmann::json reply;
    Require(Survives(
        [&] { reply = incoming.error ? Refusal(*incoming.error) : HandleRequest(incoming.json); }));
    const std::string text = ReplyText(reply);
    Require(text.size() <= kLongestReplyBytes);
    const auto sent = nlohmann::json::parse(text, nullptr, false);
    Require(sent.is_object() && sent.contains("ok") && sent["ok"].is_boolean());
    const auto request = nlohmann::json::parse(incoming.json, nullptr, false);
    if (!incoming.error && request.is_object() && request.contains("id")) {
        Require(sent.contains("id") && sent["id"] == request["id"]);
    }
    if (!sent["ok"]) {
        Require(fake::TheWorld().values == before);
    }
    Require(NothingLeftOpen());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    StartFreshProcess();
    PutDefaultSettings();
    FuzzInput input(data, size);
    const std::uint8_t shape = input.Byte();
    // A companion that answers, or none.
    if (shape & 1) {
        AddCompanion();
    }
    const std::size_t piece = 1 + (shape >> 1) % 64;
    const std::string stream(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0),
                             size > 0 ? size - 1 : 0);
    FrameReader reader;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
        reader.Append(std::string_view(stream).substr(at, piece));
        while (const auto incoming = reader.Next()) {
            CheckReply(*incoming);
        }
    }
    if (const auto cut = reader.AtEnd()) {
        CheckReply(*cut);
    }
    return 0;
}
