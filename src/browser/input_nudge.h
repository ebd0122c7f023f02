#pragma once

// While a browser window is on the desktop: brings the window under the cursor to the
// foreground, flicks the cursor away and back, and types Shift+F5.
void SendInputNudge();
