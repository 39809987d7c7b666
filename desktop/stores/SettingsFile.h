// The settings file holds the provider's API key and the request journal: only its owner may
// read it, however it came to exist.
#pragma once

namespace quorvel::desktop {

// Makes the settings file of the application owner-only (0600), creating it empty when it does
// not exist yet; later writes keep the mode. Call before anything is written to it.
void keepSettingsPrivate();

}  // namespace quorvel::desktop
