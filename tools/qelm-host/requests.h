#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

// The host's requests: the browser extension's side of the companion's contract, in JSON.

// Answers one request (a JSON object with "id" and "cmd") with exactly one reply, which carries
// the same "id": {"ok": true, ...} or {"ok": false, "error": "..."}. Nothing is written to the key
// unless the request is whole and right.
nlohmann::json HandleRequest(std::string_view message);

// The refusal of a message that could not be taken at all (its framing, say).
nlohmann::json Refusal(const std::string& error);

// What the extension shows: whether the companion runs, its process, the key's values by their
// registry names, the latest comment and memory figures, and the browser's totals.
nlohmann::json StatusFields();

// The reply as sent: compact UTF-8, or a refusal when it would be longer than the browser takes.
std::string ReplyText(const nlohmann::json& reply);
