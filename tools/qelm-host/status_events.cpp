#include "status_events.h"

#include "requests.h"

StatusEvents::StatusEvents() : m_shown(StatusFields()) {}

std::optional<nlohmann::json> StatusEvents::Next() {
    nlohmann::json fields = StatusFields();
    if (fields == m_shown) {
        return std::nullopt;
    }
    m_shown = fields;
    fields["event"] = "status";
    return fields;
}
