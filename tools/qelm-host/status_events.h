#pragma once

#include <optional>

#include <nlohmann/json.hpp>

// The unsolicited status events: {"event": "status", ...the fields of a status reply...}, one
// whenever what the extension shows has changed since the last one went out. A burst of changes
// seen at once gives one event with the state after the burst.
class StatusEvents {
  public:
    // Takes the state of this moment as the one the extension knows.
    StatusEvents();

    // The event to send now, or none when nothing has changed since the last one.
    std::optional<nlohmann::json> Next();

  private:
    nlohmann::json m_shown;
};
