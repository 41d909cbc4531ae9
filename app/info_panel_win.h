// The information panel on the right of the main window. UI thread only.
#pragma once

// Rebuilds the panel from g_connection and today's date.
void RefreshInfoPanel();
