#include "settings/settings.h"

constinit Settings g_settings;
