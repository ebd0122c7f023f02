#include "app/announcement.h"

#include "browser/input_nudge.h"
#include "platform/shell.h"
#include "settings/settings.h"

void Announce(std::u16string_view comment, CommentLayout layout) {
    const bool beeps = g_settings.GetVisualAcc();
    if (!beeps && !g_settings.GetDisplayEvents()) {
        return;
    }
    if (beeps) {
        platform::SoundBeep(550, 300);
    }
    WriteEventComment(comment, layout);
    SendInputNudge();
}
