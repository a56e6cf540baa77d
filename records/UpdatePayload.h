#pragma once

#include "records/LastSentState.h"

#include <QJsonObject>

#include <optional>

namespace pondra {

/// The answer to "what should be uploaded now?": the record to send and the
/// summary of it, or nothing when the record is unchanged.
struct UpdatePayload
{
    bool shouldSend = false;
    std::optional<QJsonObject> payload;
    std::optional<LastSentState> state;
};

} // namespace pondra
