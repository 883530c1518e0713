// Control over the compositor's processor-specific path, for tests that check the portable
// path on machines where the other one would run. Output never depends on the path taken.
#pragma once

namespace br::detail {

// Allows (true, the default) or forbids the wide path; returns the previous setting.
bool EnableWideCompose(bool enable);

}  // namespace br::detail
