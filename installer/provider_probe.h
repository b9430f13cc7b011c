// Probe-and-launch: asks the platform for a verification context of the
// Selvane Korvex provider and, when it is missing, starts its installer.
#pragma once
#include <windows.h>

// Status values of a probe-and-launch.
constexpr LONG kStatusProviderPresent = 0;
constexpr LONG kStatusInstallerStarted = 1;
// The launch failed for lack of resources (the shell answered 0).
constexpr LONG kStatusLaunchOutOfResources = -1;

// Runs the probe and, if needed, the launch; returns the status.
LONG ProbeAndLaunch();

// The status a launch result maps to: 0 gives -1, 1 to 32 give -r, anything
// above 32 means the installer was started.
LONG StatusFromLaunchResult(UINT_PTR result);
